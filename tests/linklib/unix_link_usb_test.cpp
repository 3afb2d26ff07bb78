#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "UsbTestbed.h"
#include "aLink.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

bool waitForStatus(aLinkID id, aLinkStatus wanted) {
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (aLink_GetStatus(id) != wanted && Clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return aLink_GetStatus(id) == wanted;
}

// What the host wrote to the module, collected from the OUT endpoint.
class HostBytes {
 public:
  void append(const uint8_t* data, size_t n) {
    std::lock_guard<std::mutex> lock(mutex_);
    bytes_.insert(bytes_.end(), data, data + n);
    arrived_.notify_all();
  }
  // Waits until the host's bytes end with the given ones.
  bool endsWith(const Bytes& tail) {
    std::unique_lock<std::mutex> lock(mutex_);
    return arrived_.wait_for(lock, std::chrono::seconds(5), [&] {
      return bytes_.size() >= tail.size() &&
             Bytes(bytes_.end() - tail.size(), bytes_.end()) == tail;
    });
  }
  Bytes all() {
    std::lock_guard<std::mutex> lock(mutex_);
    return bytes_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable arrived_;
  Bytes bytes_;
};

class UsbLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_USB_EMULATION();
    bus = std::make_unique<UsbTestbed>();
    module = &bus->add("40F5849A");
    module->setPeer([this](const uint8_t* data, size_t n) { fromHost.append(data, n); });
  }

  // Declared first so that it outlives the bus whose peer callback writes into it.
  HostBytes fromHost;
  std::unique_ptr<UsbTestbed> bus;
  EmulatedUsbModule* module = nullptr;
};

TEST_F(UsbLinkTest, SharedBySerialNumberAndTornDownByTheLastUse) {
  aLinkID first = aLink_CreateUSB(0x40F5849A);
  ASSERT_NE(first, 0u);
  aLinkID second = aLink_CreateUSB(0x40F5849A);
  EXPECT_EQ(second, first);
  ASSERT_TRUE(fromHost.endsWith({0xAF, 0x01, 0x01}));
  ASSERT_TRUE(waitForStatus(first, aLinkRunning));

  module->sendToHost({0x06, 0x02, 0x00, 0x01, 0x06, 0x01, 0x33});
  EXPECT_TRUE(fromHost.endsWith({0x06, 0x02, 0x00, 0x03}));
  aPacket* packet = aLink_AwaitPacket(first, 5000);
  ASSERT_NE(packet, nullptr);
  EXPECT_EQ(packet->address, 0x06);
  EXPECT_EQ(packet->data[0], 0x33);
  aPacket_Destroy(&packet);

  ASSERT_EQ(aLink_Destroy(&second), aErrNone);
  EXPECT_EQ(aLink_GetStatus(first), aLinkRunning);
  EXPECT_TRUE(module->interfaceClaimed());
  ASSERT_EQ(aLink_Destroy(&first), aErrNone);
  EXPECT_TRUE(fromHost.endsWith({0xAF, 0x01, 0x00}));
  EXPECT_FALSE(module->interfaceClaimed());
}

TEST_F(UsbLinkTest, UnpluggedModuleGivesStreamError) {
  aLinkID id = aLink_CreateUSB(0x40F5849A);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(waitForStatus(id, aLinkRunning));
  module->unplug();
  EXPECT_TRUE(waitForStatus(id, aLinkStreamError));
  EXPECT_EQ(aLink_AwaitPacket(id, 0), nullptr);
  EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

TEST_F(UsbLinkTest, ResetReopensAReplugedModule) {
  aLinkID id = aLink_CreateUSB(0x40F5849A);
  ASSERT_NE(id, 0u);
  ASSERT_TRUE(waitForStatus(id, aLinkRunning));
  module->unplug();
  ASSERT_TRUE(waitForStatus(id, aLinkStreamError));
  module->plug();
  ASSERT_EQ(aLink_Reset(id), aErrNone);
  EXPECT_TRUE(waitForStatus(id, aLinkRunning));
  EXPECT_TRUE(fromHost.endsWith({0xAF, 0x01, 0x01}));
  EXPECT_EQ(aLink_Destroy(&id), aErrNone);
}

TEST(UsbLink, AbsentModuleMakesNoLink) {
  SKIP_WITHOUT_USB_EMULATION();
  UsbTestbed bus;
  bus.add("40F5849A");
  EXPECT_EQ(aLink_CreateUSB(0x40F5849B), 0u);
  EXPECT_EQ(aLink_CreateUSB(0), 0u);
}

}  // namespace
