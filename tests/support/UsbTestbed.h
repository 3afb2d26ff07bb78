#pragma once

// An emulated USB bus for one test: a umockdev testbed holding emulated modules. Needs the
// process to run under umockdev's preload (the *_usb_test wrapper); children started by the
// test see the same bus.

#include <memory>
#include <string>
#include <vector>

#include "EmulatedKernelNode.h"
#include "EmulatedUsbModule.h"

class UsbTestbed {
 public:
  // Empty when the emulation is usable, else the reason a test should skip.
  static std::string unavailableReason();

  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // A module on the next free port of bus 1.
  EmulatedUsbModule& add(const UsbDeviceLayout& layout);
  EmulatedUsbModule& add(const std::string& serial) { return add(UsbDeviceLayout::module(serial)); }

  // The module's kernel driver node for that serial text.
  EmulatedKernelNode& addKernelNode(const std::string& serialText);

 private:
  UMockdevTestbed* testbed_;
  int nextDevice_ = 2;  // 1 is the root hub's number on a real bus
  std::vector<std::unique_ptr<EmulatedUsbModule>> modules_;
  std::vector<std::unique_ptr<EmulatedKernelNode>> nodes_;
};

// Skips the current test with the reason when the emulation is not available.
#define SKIP_WITHOUT_USB_EMULATION()                                   \
  do {                                                                 \
    std::string reason_ = UsbTestbed::unavailableReason();             \
    if (!reason_.empty()) GTEST_SKIP() << reason_;                     \
  } while (0)
