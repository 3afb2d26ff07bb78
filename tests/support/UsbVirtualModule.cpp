#include "UsbVirtualModule.h"

#include <cstdio>
#include <utility>

namespace {

constexpr auto kTick = std::chrono::milliseconds(5);

UsbDeviceLayout withSerial(UsbDeviceLayout layout, const std::string& serial, uint8_t model) {
  layout.serial = serial;
  layout.productId = static_cast<uint16_t>((layout.productId & 0xFF00) | model);
  return layout;
}

}  // namespace

std::string UsbVirtualModule::serialText(uint32_t serialNumber) {
  char text[9];
  std::snprintf(text, sizeof(text), "%08X", serialNumber);
  return text;
}

UsbVirtualModule::UsbVirtualModule(UsbTestbed& bus, const virtualmodule::DeviceModel& device,
                                   UsbDeviceLayout layout)
    : core_(device),
      usb_(bus.add(withSerial(std::move(layout), serialText(device.serialNumber), device.model))) {
  usb_.setPeer([this](const uint8_t* data, size_t n) {
    core_.fromHost(data, n, virtualmodule::ModuleCore::Clock::now());
  });
  usb_.setClaimObserver([this](bool claimed) {
    if (claimed)
      core_.attach(*this);
    else
      core_.detach();
  });
  clock_ = std::thread([this] { run(); });
}

UsbVirtualModule::~UsbVirtualModule() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    running_ = false;
  }
  wake_.notify_all();
  clock_.join();
  usb_.setPeer(nullptr);
  usb_.setClaimObserver(nullptr);
  core_.detach();
}

void UsbVirtualModule::toHost(const std::vector<uint8_t>& bytes) { usb_.sendToHost(bytes); }

// Runs under the core's lock, so the unplug (which tells the core) waits for the clock thread.
void UsbVirtualModule::dropLink() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    restartWanted_ = true;
  }
  wake_.notify_all();
}

void UsbVirtualModule::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (running_) {
    wake_.wait_for(lock, kTick, [this] { return !running_ || restartWanted_; });
    if (!running_) break;
    bool restart = std::exchange(restartWanted_, false);
    lock.unlock();
    if (restart) {
      usb_.unplug();
      std::this_thread::sleep_for(restartDelay_.load());
      uint8_t primary = core_.primaryAddress();
      usb_.plug(serialText(core_.device(primary).serialNumber));
      restarts_++;
    }
    core_.tick(virtualmodule::ModuleCore::Clock::now());
    lock.lock();
  }
}
