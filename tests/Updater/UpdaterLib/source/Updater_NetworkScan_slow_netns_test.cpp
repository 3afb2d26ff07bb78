#include <gtest/gtest.h>

#include <cstdlib>

#include "DiscoveryResponder.h"
#include "ModuleCore.h"
#include "RecordingDisplay.h"
#include "TcpServer.h"
#include "Updater.h"

namespace {

// Behind a real router an empty address simply stays silent, so the scan waits out one reply
// time-out for each of them: this is the slow path the other tests avoid.
TEST(NetworkScan, SilentAddressesEachCostATimeoutButTheScanEnds) {
  if (getenv("UPDATER_NETNS") == nullptr)
    GTEST_SKIP() << "needs a private network namespace (run as root through ctest)";
  virtualmodule::DeviceModel router;
  router.serialNumber = 0x22220000;
  virtualmodule::DeviceModel target;
  target.serialNumber = 0x22220040;
  target.moduleAddress = 0x40;
  virtualmodule::ModuleCore core(router);
  core.addModule(target);
  virtualmodule::TcpServer server(core, "10.77.0.1", 0);
  virtualmodule::DiscoveryResponder responder(core, "10.77.0.1", "10.77.0.1", server.port());

  RecordingDisplay display;
  Updater updater("http://127.0.0.1:1/cgi/u", "/nonexistent", display);
  std::vector<DeviceInfo> devices = updater.Discover_ZPNetwork_Devices(0x22220000, TCPIP);
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[0].serialNumber, 0x22220000u);
  EXPECT_EQ(devices[1].serialNumber, 0x22220040u);
  EXPECT_EQ(devices[1].moduleAddress, 0x40u);
}

}  // namespace
