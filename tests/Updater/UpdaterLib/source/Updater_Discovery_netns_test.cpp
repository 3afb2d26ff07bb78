#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "DiscoveryResponder.h"
#include "ModuleCore.h"
#include "RecordingDisplay.h"
#include "TcpServer.h"
#include "Updater.h"

namespace {

// A virtual module on one address of the private network, found by discovery.
struct NetworkModule {
  NetworkModule(const std::string& address, virtualmodule::DeviceModel device)
      : core(device), server(core, address, 0), responder(core, "10.77.0.1", address, server.port()) {}
  virtualmodule::ModuleCore core;
  virtualmodule::TcpServer server;
  virtualmodule::DiscoveryResponder responder;
};

virtualmodule::DeviceModel sDevice(uint32_t serial, uint8_t model, uint8_t address,
                                   uint32_t build) {
  virtualmodule::DeviceModel device;
  device.serialNumber = serial;
  device.model = model;
  device.moduleAddress = address;
  device.routerAddress = 2;
  device.build = build;
  device.version = {2, 1, 7};
  return device;
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getenv("UPDATER_NETNS") == nullptr)
      GTEST_SKIP() << "needs a private network namespace (run as root through ctest)";
  }
  RecordingDisplay display;
  Updater updater{"http://127.0.0.1:1/cgi/u", "/nonexistent", display};
};

const DeviceInfo* sFind(const std::vector<DeviceInfo>& devices, uint32_t serial) {
  auto found = std::find_if(devices.begin(), devices.end(),
                            [serial](const DeviceInfo& d) { return d.serialNumber == serial; });
  return found == devices.end() ? nullptr : &*found;
}

TEST_F(DiscoveryTest, ModulesOnTheNetworkAreListedWithTheirFirmware) {
  NetworkModule first("10.77.0.1", sDevice(0x40F5849A, 0x13, 2, 99528558));
  NetworkModule second("10.77.0.2", sDevice(0xD272031D, 0x11, 6, 1234));

  std::vector<DeviceInfo> devices = updater.Discover_Devices(TCPIP);
  ASSERT_EQ(devices.size(), 2u);
  const DeviceInfo* a = sFind(devices, 0x40F5849A);
  const DeviceInfo* b = sFind(devices, 0xD272031D);
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->error, aErrNone);
  EXPECT_EQ(a->type, TCPIP);
  EXPECT_EQ(a->ipAddress, inet_addr("10.77.0.1"));
  EXPECT_EQ(a->port, first.server.port());
  EXPECT_EQ(a->buildNumber, 99528558u);
  EXPECT_EQ(a->major, 2);
  EXPECT_EQ(a->minor, 1);
  EXPECT_EQ(a->patch, 7u);
  EXPECT_EQ(a->model, 0x13u);
  EXPECT_EQ(b->moduleAddress, 6u) << "the address the module reports";
  EXPECT_EQ(b->buildNumber, 1234u);
  EXPECT_TRUE(display.lines.empty()) << "discovery reports through the list only";
}

TEST_F(DiscoveryTest, AModuleThatStopsAnsweringKeepsItsErrorInTheList) {
  NetworkModule module("10.77.0.1", sDevice(0x40F5849A, 0x13, 2, 5));
  virtualmodule::Faults faults;
  faults.lengthChange[0x49] = -1;  // the build reply one byte short
  module.core.setFaults(faults);

  std::vector<DeviceInfo> devices = updater.Discover_Devices(TCPIP);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].buildNumber, 0u) << "a build reply of 5 data bytes gives no build";
  EXPECT_EQ(devices[0].error, aErrNone);

  faults = {};
  faults.silent = true;
  module.core.setFaults(faults);
  devices = updater.Discover_Devices(TCPIP);
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_NE(devices[0].error, aErrNone);
}

TEST_F(DiscoveryTest, TheNetworkBehindARouterIsScannedAddressByAddress) {
  NetworkModule router("10.77.0.1", sDevice(0x11110000, 0x13, 2, 10));
  router.core.addModule(sDevice(0x11110004, 0x11, 4, 40));
  router.core.addModule(sDevice(0x1111000A, 0x05, 10, 100));
  virtualmodule::Faults faults;
  faults.answerAbsent = true;
  router.core.setFaults(faults);

  std::vector<DeviceInfo> devices = updater.Discover_ZPNetwork_Devices(0x11110000, 0);
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[0].serialNumber, 0x11110000u) << "the router's own address is scanned too";
  EXPECT_EQ(devices[1].serialNumber, 0x11110004u);
  EXPECT_EQ(devices[1].moduleAddress, 4u);
  EXPECT_EQ(devices[1].routerSerialNumber, 0x11110000u);
  EXPECT_EQ(devices[1].ipAddress, inet_addr("10.77.0.1"));
  EXPECT_EQ(devices[1].buildNumber, 40u);
  EXPECT_EQ(devices[2].serialNumber, 0x1111000Au);
  EXPECT_EQ(devices[2].model, 0x05u);
  EXPECT_FALSE(router.core.device(2).routeToMe) << "the router is released after the scan";

  EXPECT_TRUE(updater.Discover_ZPNetwork_Devices(0x99999999, TCPIP).empty());
}

}  // namespace
