#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "UpdaterProcess.h"
#include "UsbTestbed.h"
#include "UsbVirtualModule.h"
#include "zpusb_driver.h"

namespace {

virtualmodule::DeviceModel device(uint32_t serial, uint8_t model, virtualmodule::FirmwareVersion version,
                                  uint32_t build) {
  virtualmodule::DeviceModel d;
  d.serialNumber = serial;
  d.model = model;
  d.version = version;
  d.build = build;
  return d;
}

// Two virtual modules on the emulated USB bus, listed by a separate updater process.
class UsbDiscoveryCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_USB_EMULATION();
    bus_ = std::make_unique<UsbTestbed>();
    first_ = std::make_unique<UsbVirtualModule>(*bus_, device(0x40F5849A, 0x13, {2, 1, 7}, 99528558));
    second_ = std::make_unique<UsbVirtualModule>(*bus_, device(0x0001ABCD, 0x11, {1, 0, 12}, 4242));
  }
  void TearDown() override {
    second_.reset();
    first_.reset();
  }

  std::unique_ptr<UsbTestbed> bus_;
  std::unique_ptr<UsbVirtualModule> first_;
  std::unique_ptr<UsbVirtualModule> second_;
  UpdaterProcess updater_;
};

const char kUsbHeader[] = "    Device    Module   Router  Model          Firmware Version (Build)\n";

TEST_F(UsbDiscoveryCommand, ListsEveryModuleOnUsb) {
  for (const auto& arguments : {std::vector<std::string>{"-D"}, {"-D", "-t", "USB"}}) {
    SCOPED_TRACE(arguments.size());
    ProcessResult r = updater_.Run(arguments);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find(std::string("Searching for Zepric devices\n"
                                     "Discovered Devices: (USB)\n") +
                         kUsbHeader),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("    40F5849A  02       02      Tamsel         2.1.7 (99528558)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("    0001ABCD  02       02      Rushel         1.0.12 (4242)\n"),
              std::string::npos)
        << r.out;
  }
}

// The claim answers busy, so no link comes up: the connection error (25) is what is shown.
TEST_F(UsbDiscoveryCommand, ModuleHeldByAnotherProgramGetsAnErrorLine) {
  zpusb* holder = zpusb_create_usb(zpusbModeLibusb);
  ASSERT_NE(holder, nullptr);
  ASSERT_EQ(zpusb_open_zepric_device(holder, "0001ABCD"), aErrNone);
  ProcessResult r = updater_.Run({"-D"});
  zpusb_close_zepric_device(holder);
  zpusb_destroy(&holder);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("    0001ABCD  [Error (25): Is someone else connected to this device?]\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("    40F5849A  02       02      Tamsel         2.1.7 (99528558)\n"),
            std::string::npos)
      << r.out;
}

TEST(UsbDiscoveryCommandEmpty, SaysWhenNoModuleIsAttached) {
  SKIP_WITHOUT_USB_EMULATION();
  UsbTestbed bus;
  bus.add(UsbDeviceLayout::module("0001ABC"));  // a 7-character serial is not a module's
  UpdaterProcess updater;
  ProcessResult r = updater.Run({"-D", "-t", "USB"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Discovered Devices: (USB)\n    No devices found.\n"), std::string::npos)
      << r.out;
}

}  // namespace
