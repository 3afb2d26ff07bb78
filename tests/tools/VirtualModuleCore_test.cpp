// The module side of the link, driven by a small host written here from the wire rules alone
// (no host library), with a clock the test moves by hand.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "ModuleCore.h"

using namespace virtualmodule;
using Bytes = std::vector<uint8_t>;
using std::chrono::milliseconds;

namespace {

class ScriptedHost : public HostSink {
 public:
  explicit ScriptedHost(ModuleCore& core) : core_(core) { core_.attach(*this); }
  ~ScriptedHost() override { core_.detach(); }

  void toHost(const Bytes& bytes) override { received_.insert(received_.end(), bytes.begin(), bytes.end()); }
  void dropLink() override { ++drops_; }

  void send(const Bytes& bytes) { core_.fromHost(bytes.data(), bytes.size(), now_); }
  void startLink() { send({0xAF, 1, 1}); }
  void wait(milliseconds time) {
    now_ += time;
    core_.tick(now_);
  }

  // Everything the module wrote since the last call.
  Bytes takeBytes() { return std::exchange(received_, {}); }
  // The same, cut into packets; fails the test on bytes that don't frame.
  std::vector<Bytes> takePackets() {
    std::vector<Bytes> packets;
    Bytes bytes = takeBytes();
    for (size_t i = 0; i < bytes.size();) {
      const size_t length = bytes[i + 1];
      EXPECT_LE(i + 2 + length, bytes.size()) << "truncated packet";
      packets.emplace_back(bytes.begin() + i, bytes.begin() + std::min(bytes.size(), i + 2 + length));
      i += 2 + length;
    }
    return packets;
  }
  // Sends one packet and expects exactly one packet back.
  Bytes ask(const Bytes& packet) {
    send(packet);
    auto replies = takePackets();
    EXPECT_EQ(replies.size(), 1u);
    return replies.empty() ? Bytes{} : replies[0];
  }
  int drops() const { return drops_; }

 private:
  ModuleCore& core_;
  ModuleCore::Clock::time_point now_ = ModuleCore::Clock::time_point{} + std::chrono::hours(1);
  Bytes received_;
  int drops_ = 0;
};

DeviceModel sampleDevice() {
  DeviceModel device;
  device.serialNumber = 0x40F5849A;
  device.model = 0x11;
  device.version = {2, 1, 5};
  device.build = 1234;
  device.moduleAddress = 6;
  device.routerAddress = 6;
  device.uniqueIdentifier = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
  return device;
}

std::string hex(const Bytes& bytes) {
  std::string text;
  char buffer[4];
  for (uint8_t b : bytes) {
    std::snprintf(buffer, sizeof buffer, "%02X ", b);
    text += buffer;
  }
  return text;
}

}  // namespace

TEST(VirtualModuleFraming, AnswersAddressQueriesAndSyncRequestsWithItsAddress) {
  ModuleCore core(sampleDevice());
  ScriptedHost host(core);
  host.startLink();
  EXPECT_TRUE(core.linkStarted());
  host.send({0xAD, 0x00});
  EXPECT_EQ(host.takeBytes(), (Bytes{0x06, 0x00}));
  host.send({0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0, 0xAD, 0});
  EXPECT_EQ(host.takeBytes(), (Bytes{6, 0, 6, 0, 6, 0, 6, 0, 6, 0, 6, 0}));
  host.send({0xAF, 1, 0});
  EXPECT_FALSE(core.linkStarted());
}

TEST(VirtualModuleFraming, SkipsGarbageAndStillAnswersTheNextPacket) {
  struct Case {
    const char* what;
    Bytes garbage;
  };
  const Case cases[] = {
      {"odd address byte", {0x05}},
      {"zero address byte", {0x00}},
      {"length above 28", {0x06, 29}},
      {"address query with a payload", {0xAD, 0x01}},
  };
  for (const auto& c : cases) {
    ModuleCore core(sampleDevice());
    ScriptedHost host(core);
    Bytes bytes = c.garbage;
    const Bytes modelRead = {0x06, 0x03, 0x03, 0x48, 0x20};
    bytes.insert(bytes.end(), modelRead.begin(), modelRead.end());
    host.send(bytes);
    EXPECT_EQ(host.takePackets(), (std::vector<Bytes>{{0x06, 0x04, 0x03, 0x08, 0x00, 0x11}})) << c.what;
    EXPECT_EQ(core.packetsFromHost().size(), 1u) << c.what;
  }
}

TEST(VirtualModuleFraming, JoinsSplitPacketsButDropsAStalePartialOne) {
  ModuleCore core(sampleDevice());
  ScriptedHost host(core);
  host.send({0x06, 0x03, 0x03});
  host.send({0x48, 0x20});
  EXPECT_EQ(host.takePackets().size(), 1u);

  // Left unfinished, these bytes would swallow the next packet's first bytes as payload.
  host.send({0x06, 0x05, 0x03});
  host.wait(milliseconds(500));
  EXPECT_EQ(host.ask({0x06, 0x03, 0x03, 0x48, 0x20}), (Bytes{0x06, 0x04, 0x03, 0x08, 0x00, 0x11}));
}

TEST(VirtualModuleSystemEntity, AnswersReadsAndWritesOfItsOptions) {
  struct Case {
    const char* what;
    Bytes request;
    Bytes reply;
  };
  const Case cases[] = {
      {"model", {6, 3, 0x03, 0x48, 0x20}, {6, 4, 0x03, 0x08, 0x00, 0x11}},
      {"serial number", {6, 3, 0x03, 0x49, 0x20}, {6, 7, 0x03, 0x09, 0x00, 0x40, 0xF5, 0x84, 0x9A}},
      {"packed version 2.1.5", {6, 3, 0x03, 0x47, 0x20}, {6, 7, 0x03, 0x07, 0x00, 0x21, 0x00, 0x00, 0x05}},
      {"module address", {6, 3, 0x03, 0x41, 0x20}, {6, 4, 0x03, 0x01, 0x00, 0x06}},
      {"router address", {6, 3, 0x03, 0x42, 0x20}, {6, 4, 0x03, 0x02, 0x00, 0x06}},
      {"unique identifier, subindex 0", {6, 4, 0x03, 0x67, 0x20, 0}, {6, 7, 0x03, 0x27, 0x00, 0x11, 0x11, 0x11, 0x11}},
      {"unique identifier, subindex 3", {6, 4, 0x03, 0x67, 0x20, 3}, {6, 7, 0x03, 0x27, 0x00, 0x44, 0x44, 0x44, 0x44}},
      {"route to me", {6, 4, 0x03, 0x94, 0x20, 0x01}, {6, 3, 0x03, 0xD4, 0x00}},
      {"router write", {6, 4, 0x03, 0x82, 0x20, 0x08}, {6, 3, 0x03, 0xC2, 0x00}},
      {"router read after the write", {6, 3, 0x03, 0x42, 0x20}, {6, 4, 0x03, 0x02, 0x00, 0x08}},
  };
  ModuleCore core(sampleDevice());
  ScriptedHost host(core);
  for (const auto& c : cases) EXPECT_EQ(hex(host.ask(c.request)), hex(c.reply)) << c.what;
  EXPECT_TRUE(core.device(6).routeToMe);
}

TEST(VirtualModuleSystemEntity, RefusesWhatItCannotDoWithErrorReplies) {
  struct Case {
    const char* what;
    Bytes request;
    Bytes reply;  // the error reply: option byte as the host expects it, index with bit 7, code
  };
  const Case cases[] = {
      {"unknown option", {6, 3, 0x03, 0x55, 0x20}, {6, 4, 0x03, 0x15, 0x80, 29}},
      {"unknown option, write", {6, 4, 0x03, 0x95, 0x20, 1}, {6, 4, 0x03, 0xD5, 0x80, 29}},
      {"entity index 1", {6, 3, 0x03, 0x48, 0x21}, {6, 4, 0x03, 0x08, 0x81, 26}},
      {"read of a write-only option", {6, 3, 0x03, 0x54, 0x20}, {6, 4, 0x03, 0x14, 0x80, 7}},
      {"write of a read-only option", {6, 7, 0x03, 0x89, 0x20, 1, 2, 3, 4}, {6, 4, 0x03, 0xC9, 0x80, 7}},
      {"value of the wrong width", {6, 5, 0x03, 0x94, 0x20, 0, 1}, {6, 4, 0x03, 0xD4, 0x80, 14}},
      {"route to me out of range", {6, 4, 0x03, 0x94, 0x20, 2}, {6, 4, 0x03, 0xD4, 0x80, 13}},
      {"unique identifier, subindex 4", {6, 4, 0x03, 0x67, 0x20, 4}, {6, 4, 0x03, 0x27, 0x80, 26}},
      {"unique identifier without subindex", {6, 3, 0x03, 0x67, 0x20}, {6, 4, 0x03, 0x27, 0x80, 14}},
      {"entity class the module lacks", {6, 3, 0x10, 0x41, 0x20}, {6, 4, 0x10, 0x01, 0x80, 28}},
  };
  ModuleCore core(sampleDevice());
  ScriptedHost host(core);
  for (const auto& c : cases) EXPECT_EQ(hex(host.ask(c.request)), hex(c.reply)) << c.what;
  EXPECT_FALSE(core.device(6).routeToMe);
}

TEST(VirtualModuleSystemEntity, ResetAnswersThenDropsTheLinkAndForgetsRouting) {
  ModuleCore core(sampleDevice());
  ScriptedHost host(core);
  host.startLink();
  host.ask({6, 4, 0x03, 0x94, 0x20, 0x01});
  EXPECT_EQ(host.ask({6, 3, 0x03, 0x8B, 0x20}), (Bytes{6, 3, 0x03, 0xCB, 0x00}));
  EXPECT_EQ(host.drops(), 1);
  EXPECT_FALSE(core.connected());
  EXPECT_FALSE(core.device(6).routeToMe);
  // Whatever the host still sends goes nowhere until it connects again.
  host.send({0xAD, 0x00});
  EXPECT_TRUE(host.takeBytes().empty());
}

TEST(VirtualModuleSystemEntity, SendsTheNameAsNumberedPackets) {
  DeviceModel device = sampleDevice();
  device.name = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";  // 30 bytes: 24 in the first packet, 6 in the second
  struct Case {
    Faults::Sequence sequence;
    Bytes firstTail, secondTail;  // last data byte and sequence byte of the packets, in arrival order
  };
  const Case cases[] = {
      {Faults::Sequence::InOrder, {'X', 0x80}, {'3', 0x01}},
      {Faults::Sequence::Skip, {'X', 0x80}, {'3', 0x02}},
      {Faults::Sequence::Swap, {'3', 0x01}, {'X', 0x80}},
  };
  for (const auto& c : cases) {
    ModuleCore core(device);
    Faults faults;
    faults.sequence = c.sequence;
    core.setFaults(faults);
    ScriptedHost host(core);
    host.send({6, 3, 0x03, 0x60, 0x20});
    auto packets = host.takePackets();
    ASSERT_EQ(packets.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
      const Bytes& tail = i == 0 ? c.firstTail : c.secondTail;
      EXPECT_EQ(Bytes(packets[i].begin() + 2, packets[i].begin() + 5), (Bytes{0x03, 0x20, 0x00}));
      EXPECT_EQ(Bytes(packets[i].end() - 2, packets[i].end()), tail);
    }
  }
}

TEST(VirtualModuleRawCommands, AnswersBuildQueryModuleQueriesAndEcho) {
  struct Case {
    const char* what;
    Bytes request;
    Bytes reply;
  };
  const Case cases[] = {
      {"build number", {6, 2, 0x49, 0xFF}, {6, 6, 0x49, 0xFF, 0x00, 0x00, 0x04, 0xD2}},
      {"has model read", {6, 6, 0x49, 1, 3, 8, 0, 0x40}, {6, 6, 0x49, 1, 3, 8, 0, 0}},
      {"has model write", {6, 6, 0x49, 1, 3, 8, 0, 0x80}, {6, 6, 0x49, 1, 3, 8, 0, 7}},
      {"has option 55", {6, 6, 0x49, 1, 3, 55, 0, 0x40}, {6, 6, 0x49, 1, 3, 55, 0, 29}},
      {"has entity class 0x10", {6, 6, 0x49, 1, 0x10, 1, 0, 0x40}, {6, 6, 0x49, 1, 0x10, 1, 0, 28}},
      {"system entity count", {6, 3, 0x49, 4, 3}, {6, 4, 0x49, 4, 3, 1}},
      {"echo", {6, 4, 0x17, 1, 2, 3}, {6, 4, 0x17, 1, 2, 3}},
  };
  ModuleCore core(sampleDevice());
  ScriptedHost host(core);
  for (const auto& c : cases) EXPECT_EQ(hex(host.ask(c.request)), hex(c.reply)) << c.what;

  host.send({6, 3, 0x49, 0xFF, 0x00});  // a build query of the wrong length is not one
  EXPECT_TRUE(host.takeBytes().empty());
}

TEST(VirtualModuleRawCommands, StoreSlotRoundTrip) {
  ModuleCore core(sampleDevice());
  ScriptedHost host(core);
  EXPECT_EQ(host.ask({6, 4, 4, 1, 0, 2}), (Bytes{6, 6, 4, 1, 0, 2, 0x04, 0x00}));  // capacity 1024
  const Bytes opened = host.ask({6, 4, 4, 4, 0, 2});
  ASSERT_EQ(opened.size(), 7u);
  const uint8_t handle = opened[6];

  Bytes data;
  for (int i = 0; i < 30; ++i) data.push_back(uint8_t(200 + i));
  for (size_t offset = 0; offset < data.size(); offset += 25) {
    Bytes chunk(data.begin() + offset, data.begin() + std::min(data.size(), offset + 25));
    Bytes request = {6, uint8_t(3 + chunk.size()), 4, 7, handle};
    request.insert(request.end(), chunk.begin(), chunk.end());
    uint8_t sum = 0;
    for (uint8_t b : chunk) sum = uint8_t(sum + b);
    EXPECT_EQ(host.ask(request), (Bytes{6, 4, 4, 7, handle, sum}));
  }
  EXPECT_EQ(host.ask({6, 4, 4, 2, 0, 2}), (Bytes{6, 6, 4, 2, 0, 2, 0, 0})) << "nothing stored before the close";
  EXPECT_EQ(host.ask({6, 3, 4, 8, handle}), (Bytes{6, 4, 4, 8, handle, 0}));
  EXPECT_EQ(host.ask({6, 4, 4, 2, 0, 2}), (Bytes{6, 6, 4, 2, 0, 2, 0, 30}));

  const uint8_t reader = host.ask({6, 4, 4, 3, 0, 2}).back();
  Bytes readBack;
  for (int i = 0; i < 2; ++i) {
    const Bytes reply = host.ask({6, 3, 4, 6, reader});
    readBack.insert(readBack.end(), reply.begin() + 5, reply.end());
  }
  EXPECT_EQ(readBack, data);
  host.ask({6, 3, 4, 8, reader});

  struct Case {
    const char* what;
    Bytes request;
    Bytes reply;
  };
  const Case errors[] = {
      {"slot out of range", {6, 4, 4, 1, 0, 9}, {6, 5, 4, 0x81, 0, 9, 26}},
      {"store out of range", {6, 4, 4, 3, 5, 0}, {6, 5, 4, 0x83, 5, 0, 26}},
      {"closed handle", {6, 3, 4, 6, reader}, {6, 4, 4, 0x86, reader, 2}},
  };
  for (const auto& c : errors) EXPECT_EQ(hex(host.ask(c.request)), hex(c.reply)) << c.what;
}

TEST(VirtualModuleRawCommands, StoreSlotRefusesToOverfillAndKeepsTheOldContents) {
  DeviceModel device = sampleDevice();
  device.stores = {std::vector<StoreSlot>(1)};
  device.stores[0][0].capacity = 20;
  device.stores[0][0].data = {1, 2, 3};
  ModuleCore core(device);
  ScriptedHost host(core);
  const uint8_t handle = host.ask({6, 4, 4, 4, 0, 0}).back();
  Bytes request = {6, 28, 4, 7, handle};
  request.resize(30, 0x55);
  EXPECT_EQ(host.ask(request), (Bytes{6, 4, 4, 0x87, handle, 15}));
  host.ask({6, 3, 4, 8, handle});
  EXPECT_EQ(core.device(6).stores[0][0].data, (Bytes{}))
      << "the close commits what was accepted, which was nothing";
}

TEST(VirtualModuleRawCommands, FactoryDataRoundTripAndCountCheck) {
  ModuleCore core(sampleDevice());
  ScriptedHost host(core);
  Bytes data;
  for (int i = 0; i < 30; ++i) data.push_back(uint8_t(i));

  Bytes first = {6, 28, '^', 0x53};
  first.insert(first.end(), data.begin(), data.begin() + 26);
  EXPECT_EQ(host.ask(first), (Bytes{6, 2, '^', 0x03}));
  Bytes second = {6, 6, '^', 0x13};
  second.insert(second.end(), data.begin() + 26, data.end());
  EXPECT_EQ(host.ask(second), (Bytes{6, 2, '^', 0x03}));
  EXPECT_EQ(host.ask({6, 4, '^', 0x20, 0, 30}), (Bytes{6, 2, '^', 0x00}));
  EXPECT_EQ(core.device(6).factoryData.at(3), data);

  const Bytes full = host.ask({6, 2, '^', 0x43});
  ASSERT_EQ(full.size(), 30u) << "a full packet tells the host to ask for more";
  const Bytes rest = host.ask({6, 2, '^', 0x03});
  Bytes readBack(full.begin() + 4, full.end());
  readBack.insert(readBack.end(), rest.begin() + 4, rest.end());
  EXPECT_EQ(readBack, data);
  EXPECT_EQ(host.ask({6, 4, '^', 0x20, 0, 29}), (Bytes{6, 3, '^', 0x80, 14})) << "count differs from what travelled";
}

TEST(VirtualModuleHeartbeat, SendsHeartbeatsWhileTheLinkRunsAndChecksTheAnswers) {
  DeviceModel device = sampleDevice();
  device.heartbeatTenths = 1;
  ModuleCore core(device);
  ScriptedHost host(core);
  host.wait(milliseconds(300));
  EXPECT_TRUE(host.takeBytes().empty()) << "no heartbeat before the link starts";

  host.startLink();
  host.wait(milliseconds(100));
  EXPECT_EQ(host.takeBytes(), (Bytes{6, 2, 0, 0}));
  host.send({6, 2, 0, 2});  // the right answer: value + 2
  host.wait(milliseconds(100));
  EXPECT_EQ(host.takeBytes(), (Bytes{6, 2, 0, 1}));
  host.send({6, 2, 0, 2});  // wrong: should be 3
  host.wait(milliseconds(100));
  EXPECT_EQ(host.takeBytes(), (Bytes{6, 2, 0, 2}));
  host.wait(milliseconds(100));  // unanswered until the next one is due
  EXPECT_EQ(host.takeBytes(), (Bytes{6, 2, 0, 3}));

  const HeartbeatStats stats = core.heartbeats();
  EXPECT_EQ(stats.sent, 4u);
  EXPECT_EQ(stats.answered, 1u);
  EXPECT_EQ(stats.wrong, 1u);
  EXPECT_EQ(stats.missed, 1u);
  EXPECT_EQ(core.packetsFromHost().size(), 2u) << "answers are recorded like any packet";

  host.send({0xAF, 1, 0});
  host.wait(milliseconds(500));
  EXPECT_TRUE(host.takeBytes().empty()) << "no heartbeat after the link stops";
}

TEST(VirtualModuleRouter, ForwardsToModulesBehindItAndKeepsAbsentAddressesSilent) {
  ModuleCore core(sampleDevice());
  DeviceModel behind = sampleDevice();
  behind.moduleAddress = 4;
  behind.serialNumber = 0x11112222;
  core.addModule(behind);
  EXPECT_THROW(core.addModule(behind), std::invalid_argument);
  ScriptedHost host(core);

  host.send({0xAD, 0x00});
  EXPECT_EQ(host.takeBytes(), (Bytes{6, 0})) << "only the router answers on the link";
  EXPECT_EQ(host.ask({4, 3, 0x03, 0x49, 0x20}), (Bytes{4, 7, 0x03, 0x09, 0x00, 0x11, 0x11, 0x22, 0x22}));
  EXPECT_EQ(host.ask({4, 3, 0x03, 0x42, 0x20}), (Bytes{4, 4, 0x03, 0x02, 0x00, 6})) << "its router is the router";
  host.send({8, 3, 0x03, 0x49, 0x20});
  EXPECT_TRUE(host.takeBytes().empty());

  Faults faults;
  faults.answerAbsent = true;
  core.setFaults(faults);
  EXPECT_EQ(host.ask({8, 3, 0x03, 0x49, 0x20}), (Bytes{8, 4, 0x03, 0x09, 0x80, 3}));

  EXPECT_EQ(host.ask({4, 3, 0x03, 0x8B, 0x20}), (Bytes{4, 3, 0x03, 0xCB, 0x00}));
  EXPECT_EQ(host.drops(), 0) << "a module behind the router restarts without taking the link down";
}

TEST(VirtualModuleFaults, MisbehavesOnRequest) {
  const Bytes buildQuery = {6, 2, 0x49, 0xFF};
  struct Case {
    const char* what;
    Faults faults;
    Bytes expected;  // everything the module writes for a link start, an address query and a build query
    int drops;
  };
  Faults silent;
  silent.silent = true;
  Faults shortBuild;
  shortBuild.lengthChange[0x49] = -1;
  Faults longBuild;
  longBuild.lengthChange[0x49] = 1;
  Faults garbageFirst;
  garbageFirst.garbageBeforeReplies = 1;
  Faults garbageAtStart;
  garbageAtStart.garbageOnLinkStart = true;
  Faults drop;
  drop.dropAfterPackets = 1;
  const Case cases[] = {
      {"silent", silent, {}, 0},
      {"one byte short", shortBuild, {6, 0, 6, 5, 0x49, 0xFF, 0, 0, 4}, 0},
      {"one byte long", longBuild, {6, 0, 6, 7, 0x49, 0xFF, 0, 0, 4, 0xD2, 0}, 0},
      {"garbage before a reply", garbageFirst, {6, 0, 0x05, 6, 6, 0x49, 0xFF, 0, 0, 4, 0xD2}, 0},
      {"garbage at link start", garbageAtStart, {0x05, 6, 0, 6, 6, 0x49, 0xFF, 0, 0, 4, 0xD2}, 0},
      {"drop on the first data packet", drop, {6, 0}, 1},
  };
  for (const auto& c : cases) {
    ModuleCore core(sampleDevice());
    core.setFaults(c.faults);
    ScriptedHost host(core);
    host.startLink();
    host.send({0xAD, 0x00});
    host.send(buildQuery);
    EXPECT_EQ(hex(host.takeBytes()), hex(c.expected)) << c.what;
    EXPECT_EQ(host.drops(), c.drops) << c.what;
    EXPECT_EQ(core.packetsFromHost().size(), 1u) << c.what << ": the request is recorded either way";
  }
}

TEST(VirtualModuleTraffic, RecordsBothDirectionsAndEvents) {
  ModuleCore core(sampleDevice());
  std::vector<std::string> lines;
  core.setTrafficObserver([&lines](const TrafficEntry& entry) { lines.push_back(entry.format()); });
  {
    ScriptedHost host(core);
    host.startLink();
    host.send({0x05, 6, 3, 0x03, 0x48, 0x20});
  }
  const std::vector<std::string> expected = {
      "# connected", "> AF 01 01 link start", "> 05 garbage", "> 06 03 03 48 20", "< 06 04 03 08 00 11", "# disconnected",
  };
  EXPECT_EQ(lines, expected);
  EXPECT_EQ(core.traffic().size(), expected.size());
}
