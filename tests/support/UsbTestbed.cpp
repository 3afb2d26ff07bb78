#include "UsbTestbed.h"

#include <umockdev.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>

std::string UsbTestbed::unavailableReason() {
  if (!std::getenv("UPDATER_UMOCKDEV"))
    return "UPDATER_UMOCKDEV is not set: run under tests/wrappers/run-with-umockdev.sh";
  const char* preload = std::getenv("LD_PRELOAD");
  if (!preload || !std::strstr(preload, "umockdev-preload"))
    return "umockdev's preload is not in LD_PRELOAD";
  return {};
}

UsbTestbed::UsbTestbed() : testbed_(umockdev_testbed_new()) {
  if (!testbed_) throw std::runtime_error("umockdev could not make a testbed");
}

UsbTestbed::~UsbTestbed() {
  modules_.clear();
  nodes_.clear();
  g_object_unref(testbed_);
}

EmulatedUsbModule& UsbTestbed::add(const UsbDeviceLayout& layout) {
  int port = static_cast<int>(modules_.size()) + 1;
  modules_.push_back(std::make_unique<EmulatedUsbModule>(
      testbed_, 1, port, [this] { return nextDevice_++; }, layout));
  return *modules_.back();
}

EmulatedKernelNode& UsbTestbed::addKernelNode(const std::string& serialText) {
  nodes_.push_back(std::make_unique<EmulatedKernelNode>(testbed_, serialText));
  return *nodes_.back();
}
