#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "DiscoveryResponder.h"
#include "ModuleCore.h"
#include "TcpServer.h"
#include "UpdaterProcess.h"

namespace {

// A router on the private network with two modules behind it, answering absent addresses at
// once so that a scan of the module network ends in seconds.
class DiscoveryCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getenv("UPDATER_NETNS") == nullptr)
      GTEST_SKIP() << "needs a private network namespace (run as root through ctest)";
    virtualmodule::DeviceModel router;
    router.serialNumber = 0x40F5849A;
    router.model = 0x13;
    router.version = {2, 1, 7};
    router.build = 99528558;
    core_ = std::make_unique<virtualmodule::ModuleCore>(router);
    core_->addModule(behind(0x11112222, 17, 4));
    core_->addModule(behind(0x33334444, 5, 10));
    virtualmodule::Faults faults;
    faults.answerAbsent = true;
    core_->setFaults(faults);
    server_ = std::make_unique<virtualmodule::TcpServer>(*core_, "10.77.0.1", 0);
    responder_ = std::make_unique<virtualmodule::DiscoveryResponder>(*core_, "10.77.0.1",
                                                                     "10.77.0.1", server_->port());
  }
  static virtualmodule::DeviceModel behind(uint32_t serial, uint8_t model, uint8_t address) {
    virtualmodule::DeviceModel device;
    device.serialNumber = serial;
    device.model = model;
    device.moduleAddress = address;
    device.version = {1, 2, 3};
    device.build = 77;
    return device;
  }
  std::unique_ptr<virtualmodule::ModuleCore> core_;
  std::unique_ptr<virtualmodule::TcpServer> server_;
  std::unique_ptr<virtualmodule::DiscoveryResponder> responder_;
  UpdaterProcess updater_;
};

const char kHeader[] =
    "    Device    Module   Router  Model          Firmware Version (Build)   [IP address]\n";

TEST_F(DiscoveryCommand, ListsTheModulesFoundOverTCPIP) {
  ProcessResult r = updater_.Run({"-D", "-t", "TCP"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(std::string("Searching for Zepric devices\n"
                                   "Discovered Devices: (TCPIP)\n") +
                       kHeader +
                       "    40F5849A  02       02      Tamsel         2.1.7 (99528558) "
                       "[10.77.0.1]\n"),
            std::string::npos)
      << r.out;
}

TEST_F(DiscoveryCommand, ListsTheModulesBehindARouter) {
  ProcessResult r = updater_.Run({"-D", "-r", "40F5849A", "-t", "TCP"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(std::string(kHeader) +
                       "    40F5849A  02       02      Tamsel         2.1.7 (99528558) [10.77.0.1]\n"
                       "    11112222  04       02      Rushel         1.2.3 (77) [10.77.0.1]\n"
                       "    33334444  0A       02      Marrin         1.2.3 (77) [10.77.0.1]\n"),
            std::string::npos)
      << r.out;
  EXPECT_FALSE(core_->device(2).routeToMe);
}

// A network module keeps its line (and its address) even when nothing could be read from it.
TEST_F(DiscoveryCommand, AModuleThatDoesNotAnswerIsStillListed) {
  virtualmodule::Faults faults;
  faults.silent = true;
  core_->setFaults(faults);
  ProcessResult r = updater_.Run({"-D", "-t", "TCP"});
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.out.find("    40F5849A  02       02      Tamsel         0.0.0 (0) [10.77.0.1]\n"),
            std::string::npos)
      << r.out;
}

}  // namespace
