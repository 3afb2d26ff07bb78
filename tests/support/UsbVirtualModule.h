#pragma once

// The virtual module's protocol core behind an emulated USB module: the host's OUT bytes go
// to the core, the core's bytes come back on the IN endpoint, a host claiming the interface
// is the core's connection, and the core's clock ticks for its heartbeats. When the core
// restarts the module (a reboot, or a start of its loader) the module leaves the bus and
// comes back after a while under the serial number the core then has.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#include "ModuleCore.h"
#include "UsbTestbed.h"

class UsbVirtualModule : private virtualmodule::HostSink {
 public:
  // layout gives the USB side (vendor, product, interfaces); its serial text is replaced by
  // the device's serial number.
  UsbVirtualModule(UsbTestbed& bus, const virtualmodule::DeviceModel& device,
                   UsbDeviceLayout layout = UsbDeviceLayout());
  ~UsbVirtualModule() override;

  virtualmodule::ModuleCore& core() { return core_; }
  EmulatedUsbModule& usb() { return usb_; }
  // How long a restarting module stays off the bus.
  void setRestartDelay(std::chrono::milliseconds delay) { restartDelay_ = delay; }
  // Number of times the module has left the bus for a restart and come back.
  int restarts() const { return restarts_; }

 private:
  void toHost(const std::vector<uint8_t>& bytes) override;
  void dropLink() override;
  void run();
  static std::string serialText(uint32_t serialNumber);

  virtualmodule::ModuleCore core_;
  EmulatedUsbModule& usb_;
  std::atomic<std::chrono::milliseconds> restartDelay_{std::chrono::milliseconds(300)};
  std::atomic<int> restarts_{0};
  std::mutex mutex_;
  std::condition_variable wake_;
  bool restartWanted_ = false;
  bool running_ = true;
  std::thread clock_;
};
