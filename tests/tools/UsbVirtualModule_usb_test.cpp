#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Module.h"
#include "SystemClass.h"
#include "UsbVirtualModule.h"
#include "aDiscovery.h"

namespace {

using Halvik::Zepric::Module;
using Halvik::Zepric::SystemClass;

virtualmodule::DeviceModel device(uint32_t serial) {
  virtualmodule::DeviceModel d;
  d.serialNumber = serial;
  d.version = {3, 2, 1};
  return d;
}

template <typename Condition>
bool eventually(Condition condition) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (!condition() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  return condition();
}

class UsbVirtualModuleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_USB_EMULATION();
    bus_ = std::make_unique<UsbTestbed>();
    module_ = std::make_unique<UsbVirtualModule>(*bus_, device(0x40F5849A));
    module_->setRestartDelay(std::chrono::milliseconds(50));
  }
  void TearDown() override { module_.reset(); }

  static uint32_t versionOver(uint32_t serial) {
    linkSpec spec{};
    spec.type = USB;
    spec.serialNumber = serial;
    Module module(2, 0);
    if (module.connectFromSpec(spec) != aErrNone) return 0;
    SystemClass system;
    system.init(&module, 0);
    uint32_t packed = 0;
    system.getVersion(&packed);
    module.disconnect();
    return packed;
  }

  std::unique_ptr<UsbTestbed> bus_;
  std::unique_ptr<UsbVirtualModule> module_;
};

TEST_F(UsbVirtualModuleTest, AnswersTheHostOverUsb) {
  EXPECT_EQ(versionOver(0x40F5849A), module_->core().device(2).version.packed());
  EXPECT_FALSE(module_->core().connected());  // the host let the interface go
}

TEST_F(UsbVirtualModuleTest, RestartLeavesTheBusAndComesBackUnderTheNewSerial) {
  linkSpec spec{};
  spec.type = USB;
  spec.serialNumber = 0x40F5849A;
  Module module(2, 0);
  ASSERT_EQ(module.connectFromSpec(spec), aErrNone);
  ASSERT_TRUE(eventually([&] { return module_->core().connected(); }));

  // A loader start: the module reboots with the serial number of an unset loader.
  module_->core().withModule(2, [](virtualmodule::ModuleNode& node) {
    node.device().serialNumber = 0xDEADDEAD;
  });
  module_->core().dropLink();
  ASSERT_TRUE(eventually([&] { return module_->restarts() == 1; }));
  module.disconnect();

  EXPECT_EQ(aDiscovery_FindModule(USB, 0x40F5849A), nullptr);
  linkSpec* found = aDiscovery_FindModule(USB, 0xDEADDEAD);
  ASSERT_NE(found, nullptr);
  aLinkSpec_Destroy(&found);
  EXPECT_EQ(versionOver(0xDEADDEAD), module_->core().device(2).version.packed());
}

}  // namespace
