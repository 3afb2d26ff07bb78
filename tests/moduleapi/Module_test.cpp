#include "Module.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "CommandHandler.h"
#include "ModuleNode.h"
#include "SystemClass.h"
#include "VirtualModuleFixture.h"

using Halvik::Zepric::Link;
using Halvik::Zepric::Module;
using Halvik::Zepric::SystemClass;
using Bytes = std::vector<uint8_t>;

namespace {

virtualmodule::DeviceModel sDevice(uint32_t serial, uint8_t model, uint8_t address) {
  virtualmodule::DeviceModel device;
  device.serialNumber = serial;
  device.model = model;
  device.moduleAddress = address;
  device.routerAddress = address;
  return device;
}

class ModuleTest : public VirtualModuleTest {};

TEST_F(ModuleTest, ConnectingTakesTheAddressTheModuleAnswersWith) {
  start("127.0.0.21", sDevice(0x40F5849A, 0x13, 6));
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  EXPECT_TRUE(module.isConnected());
  EXPECT_EQ(module.getModuleAddress(), 6);
  EXPECT_EQ(module.connectFromSpec(spec_), aErrBusy);

  Module manual(2, false, 0);
  ASSERT_EQ(manual.connectFromSpec(spec_), aErrNone);
  EXPECT_EQ(manual.getModuleAddress(), 2) << "without automatic networking the address stays";
}

TEST_F(ModuleTest, SystemEntityReadsGoOutAsUEIRequestsAndTakeTheirReplies) {
  auto device = sDevice(0xD272031D, 0x11, 6);
  device.version = {2, 3, 77};
  device.uniqueIdentifier = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
  start("127.0.0.22", device);
  Module module(6, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  SystemClass system;
  system.init(&module, 0);

  uint8_t model = 0;
  uint32_t serial = 0, version = 0, word = 0;
  EXPECT_EQ(system.getModel(&model), aErrNone);
  EXPECT_EQ(model, 0x11);
  EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
  EXPECT_EQ(serial, 0xD272031Du);
  EXPECT_EQ(system.getVersion(&version), aErrNone);
  EXPECT_EQ(version, (2u << 28) | (3u << 24) | 77u);
  EXPECT_EQ(system.getUEI32(SystemClass::systemUniqueIdentifier, 2, &word), aErrNone);
  EXPECT_EQ(word, 0x33333333u);

  auto sent = payloadsTo(6);
  ASSERT_GE(sent.size(), 4u);
  EXPECT_EQ(sent[0], (Bytes{0x03, 0x48, 0x20}));
  EXPECT_EQ(sent[1], (Bytes{0x03, 0x49, 0x20}));
  EXPECT_EQ(sent[3], (Bytes{0x03, 0x67, 0x20, 0x02}));
}

TEST_F(ModuleTest, WritesCallsAndErrorRepliesReachTheCaller) {
  start("127.0.0.23", sDevice(0x1000, 0x13, 2));
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  SystemClass system;
  system.init(&module, 0);

  EXPECT_EQ(system.routeToMe(1), aErrNone);
  EXPECT_TRUE(core_->device(2).routeToMe);
  EXPECT_EQ(system.setLED(5), aErrNone);
  EXPECT_EQ(core_->device(2).led, 1) << "any non-zero argument turns the LED on";
  uint32_t untouched = 0xAAAA;
  EXPECT_EQ(system.getUEI32(63, &untouched), aErrInvalidOption);
  EXPECT_EQ(untouched, 0xAAAAu) << "a failed read leaves the value alone";
  EXPECT_EQ(system.setName(nullptr, 0), aErrUnimplemented);

  auto sent = payloadsTo(2);
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent[0], (Bytes{0x03, 0x94, 0x20, 0x01}));
  EXPECT_EQ(sent[1], (Bytes{0x03, 0x84, 0x20, 0x01}));
  EXPECT_EQ(sent.size(), 3u) << "setName must send nothing";
}

TEST_F(ModuleTest, MultiPacketReadsFollowTheSequenceNumbers) {
  auto device = sDevice(0x2000, 0x13, 2);
  device.name = "a module name that is longer than one packet can carry";
  start("127.0.0.24", device);
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  SystemClass system;
  system.init(&module, 0);

  uint8_t name[128];
  size_t count = 0;
  ASSERT_EQ(system.getName(name, sizeof name, &count), aErrNone);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name), count), device.name);

  virtualmodule::Faults faults;
  faults.sequence = virtualmodule::Faults::Sequence::Skip;
  core_->setFaults(faults);
  count = 0;
  EXPECT_EQ(system.getName(name, sizeof name, &count), aErrTimeout)
      << "a packet out of sequence must not be taken";

  count = 0;
  EXPECT_EQ(system.getName(name, 10, &count), aErrMemory);
}

TEST_F(ModuleTest, WordReadsNeedWholeWords) {
  auto device = sDevice(0x2100, 0x13, 2);
  device.name = std::string("\x01\x02\x03\x04\xA0\xB0\xC0\xD0", 8);
  start("127.0.0.30", device);
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  SystemClass system;
  system.init(&module, 0);

  uint32_t words[4] = {};
  size_t count = 99;
  ASSERT_EQ(system.getUEIBytes32(32, words, 4, &count), aErrNone);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(words[0], 0x01020304u);
  EXPECT_EQ(words[1], 0xA0B0C0D0u);

  core_->withModule(2, [](virtualmodule::ModuleNode& node) { node.device().name = "0123456789"; });
  count = 99;
  EXPECT_EQ(system.getUEIBytes32(32, words, 4, &count), aErrParse);
  EXPECT_EQ(count, 0u);
}

TEST_F(ModuleTest, StoreSlotsAndFactoryDataRoundTrip) {
  start("127.0.0.25", sDevice(0x3000, 0x13, 2));
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  Link& link = *module.getLink();

  Bytes data(60);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  ASSERT_EQ(link.loadStoreSlot(2, 0, 1, data.data(), data.size()), aErrNone);
  size_t size = 0;
  EXPECT_EQ(link.storeSlotSize(2, 0, 1, &size), aErrNone);
  EXPECT_EQ(size, data.size());

  Bytes back(100);
  size_t length = 0;
  ASSERT_EQ(link.unloadStoreSlot(2, 0, 1, back.data(), back.size(), &length), aErrNone);
  back.resize(length);
  EXPECT_EQ(back, data);

  Bytes small(10);
  EXPECT_EQ(link.unloadStoreSlot(2, 0, 1, small.data(), small.size(), &length), aErrOverrun);
  EXPECT_EQ(link.loadStoreSlot(2, 0, 9, data.data(), data.size()), aErrMedia)
      << "a slot that does not open";

  Bytes factory(40, 0x5A);
  factory[39] = 0x01;
  ASSERT_EQ(link.setFactoryData(2, 3, factory.data(), factory.size()), aErrNone);
  Bytes read(100);
  ASSERT_EQ(link.getFactoryData(2, 3, read.data(), read.size(), &length), aErrNone);
  read.resize(length);
  EXPECT_EQ(read, factory);
}

TEST_F(ModuleTest, RawPacketsEchoAndModuleQueries) {
  start("127.0.0.26", sDevice(0x4000, 0x13, 2));
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  const uint8_t bytes[] = {1, 2, 3, 4, 5};
  EXPECT_EQ(module.debug(bytes, sizeof bytes), aErrNone);
  uint8_t count = 0;
  EXPECT_EQ(module.classQuantity(3, &count), aErrNone);
  EXPECT_GE(count, 1);
  EXPECT_EQ(module.hasUEI(3, 8, 0, 0x40 | 0x80), aErrParam);
  EXPECT_EQ(module.hasUEI(3, 8, 0, 0x01), aErrParam);
  virtualmodule::Faults faults;
  faults.lengthChange[0x49] = 1;
  core_->setFaults(faults);
  EXPECT_EQ(module.classQuantity(3, &count), aErrUnknown) << "a reply of the wrong length";
  core_->setFaults({});

  Link& link = *module.getLink();
  uint8_t many[28] = {};
  EXPECT_EQ(link.sendPacket(2, 0x17, 28, many), aErrParam);
  EXPECT_EQ(link.sendPacket(5, 0x17, 1, many), aErrPacket);
  EXPECT_EQ(link.sendPacket(0, 0x17, 1, many), aErrPacket);
}

TEST_F(ModuleTest, ModulesBehindARouterShareItsLink) {
  start("127.0.0.27", sDevice(0x5000, 0x13, 2));
  core_->addModule(sDevice(0x5004, 0x11, 4));
  core_->addModule(sDevice(0x500A, 0x05, 10));
  Module router(2, 0);
  ASSERT_EQ(router.connectFromSpec(spec_), aErrNone);
  Module first(4, 0), second(10, 0);
  ASSERT_EQ(first.connectThroughLinkModule(router), aErrNone);
  ASSERT_EQ(second.connectThroughLinkModule(router), aErrNone);
  EXPECT_EQ(first.getLink()->getLinkID(), router.getLink()->getLinkID());

  SystemClass system;
  system.init(&second, 0);
  uint32_t serial = 0;
  EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
  EXPECT_EQ(serial, 0x500Au);

  first.disconnect();
  EXPECT_TRUE(second.isConnected());
  EXPECT_TRUE(router.isConnected());
  EXPECT_EQ(system.getSerialNumber(&serial), aErrNone);
}

TEST_F(ModuleTest, RefusalsWithoutTraffic) {
  Module module(2, 0);
  EXPECT_EQ(module.connect(TCPIP, 0), aErrParam);
  Link link("Link");
  EXPECT_EQ(link.connect(), aErrConfiguration);
  EXPECT_EQ(link.getStatus(), aLinkError);
  linkSpec spec{};
  EXPECT_EQ(link.getLinkSpecifier(&spec), aErrNotFound);
  SystemClass unbound;
  uint8_t model = 0;
  EXPECT_EQ(unbound.getModel(&model), aErrResource);
  SystemClass system;
  system.init(&module, 0);
  EXPECT_EQ(system.getModel(&model), aErrConnection);
  EXPECT_EQ(system.getModel(nullptr), aErrParam);
}

TEST_F(ModuleTest, ThePacketLogWritesEveryPacketAsALine) {
  start("127.0.0.29", sDevice(0x7000, 0x13, 2));
  Module module(2, 0);
  EXPECT_EQ(module.enablePacketLog("/dev/null"), aErrConfiguration) << "no link yet";
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  char path[] = "/tmp/packetlogXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(module.enablePacketLog(path), aErrNone);
  SystemClass system;
  system.init(&module, 0);
  uint8_t model = 0;
  ASSERT_EQ(system.getModel(&model), aErrNone);
  usleep(100 * 1000);  // the logger thread writes on its own time
  EXPECT_EQ(module.disablePacketLog(), aErrNone);

  std::ifstream file(path, std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  unlink(path);
  // The two worker threads log on their own, so only the lines are certain, not their order.
  EXPECT_NE(text.find(std::string("6 < START\0\r\n", 12)), std::string::npos) << text;
  EXPECT_NE(text.find("5 > 0x2 0x3 0x3 0x48 0x20 \r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("6 < 0x2 0x4 0x3 0x8 0x0 0x13 \r\n"), std::string::npos) << text;
}

// A module that answers the system entity's requests under another entity class.
class WrongCommandReplies : public virtualmodule::CommandHandler {
 public:
  virtualmodule::Outcome handle(virtualmodule::ModuleNode& node,
                                const std::vector<uint8_t>& payload) override {
    virtualmodule::Outcome outcome;
    outcome.replies.push_back({node.address(), {0x04, uint8_t(payload[1] & 0x3F), 0x00, 0x11}});
    return outcome;
  }
};

TEST_F(ModuleTest, RepliesUnderAnotherCommandAreNotTaken) {
  start("127.0.0.31", sDevice(0x6100, 0x13, 2));
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  core_->withModule(2, [](virtualmodule::ModuleNode& node) {
    node.install(3, std::make_unique<WrongCommandReplies>());
  });
  SystemClass system;
  system.init(&module, 0);
  uint8_t model = 7;
  EXPECT_EQ(system.getModel(&model), aErrTimeout);
  EXPECT_EQ(model, 7);
}

TEST_F(ModuleTest, ASilentModuleTimesOut) {
  start("127.0.0.28", sDevice(0x6000, 0x13, 2));
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec_), aErrNone);
  virtualmodule::Faults faults;
  faults.silent = true;
  core_->setFaults(faults);
  SystemClass system;
  system.init(&module, 0);
  uint32_t serial = 7;
  EXPECT_EQ(system.getSerialNumber(&serial), aErrTimeout);
  EXPECT_EQ(serial, 7u);
}

}  // namespace
