#include <gtest/gtest.h>

#include <errno.h>

#include <thread>
#include <vector>

#include "UsbTestbed.h"
#include "zpusb_driver.h"

namespace {

constexpr uint8_t kIn = 0x81;
constexpr uint8_t kOut = 0x02;

std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; i++) bytes[i] = static_cast<uint8_t>(i * 7 + 1);
  return bytes;
}

class ZpusbTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_USB_EMULATION();
    bus_ = std::make_unique<UsbTestbed>();
  }
  void TearDown() override {
    for (zpusb* record : records_) zpusb_destroy(&record);
  }
  zpusb* create() {
    records_.push_back(zpusb_create_usb(zpusbModeLibusb));
    EXPECT_NE(records_.back(), nullptr);
    return records_.back();
  }
  zpusb* openOrFail(const char* serial) {
    zpusb* usb = create();
    EXPECT_EQ(zpusb_open_zepric_device(usb, serial), aErrNone);
    return usb;
  }
  EmulatedUsbModule& echoModule(const std::string& serial = "0001ABCD") {
    EmulatedUsbModule& module = bus_->add(serial);
    module.setPeer([&module](const uint8_t* data, size_t n) { module.sendToHost(data, n); });
    return module;
  }
  // Reads n bytes, allowing the module a few empty transfers on the way.
  static std::vector<uint8_t> readBytes(zpusb* usb, size_t n) {
    std::vector<uint8_t> got;
    for (int idle = 0; got.size() < n && idle < 20;) {
      uint8_t byte;
      aErr result = zpusb_get_from_device(usb, &byte);
      if (result == aErrNone) {
        got.push_back(byte);
      } else {
        EXPECT_EQ(result, aErrNotReady);
        idle++;
      }
    }
    return got;
  }

  std::unique_ptr<UsbTestbed> bus_;
  std::vector<zpusb*> records_;
};

TEST_F(ZpusbTest, OpensByExactSerialAndEchoes) {
  EmulatedUsbModule& module = echoModule();
  zpusb* usb = openOrFail("0001ABCD");
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateOpen);
  EXPECT_TRUE(module.interfaceClaimed());
  const std::vector<uint8_t> hello = {1, 2, 3};
  ASSERT_EQ(zpusb_write_to_device(usb, hello.data(), hello.size()), aErrNone);
  EXPECT_EQ(readBytes(usb, 3), hello);
  uint8_t byte;
  EXPECT_EQ(zpusb_get_from_device(usb, &byte), aErrNotReady);
}

TEST_F(ZpusbTest, WritesGoOutInChunksOfFifty) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  const std::vector<uint8_t> data = pattern(120);
  ASSERT_EQ(zpusb_write_to_device(usb, data.data(), data.size()), aErrNone);
  EXPECT_EQ(module.outTransferSizes(), (std::vector<size_t>{50, 50, 20}));
  EXPECT_EQ(module.bytesFromHost(), data);
}

TEST_F(ZpusbTest, OneTransferIsHandedOutByteByByte) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  const std::vector<uint8_t> data = pattern(1000);  // more than one 800-byte transfer
  module.sendToHost(data);
  EXPECT_EQ(readBytes(usb, data.size()), data);
}

struct BadDevice {
  const char* name;
  UsbDeviceLayout layout;
  const char* requested;
  aErr result;
  int32_t state;
};

UsbDeviceLayout withSerial(const char* serial) { return UsbDeviceLayout::module(serial); }
UsbDeviceLayout withProduct(uint16_t product) { return UsbDeviceLayout::module("0001ABCD", product); }
UsbDeviceLayout withVendor(uint16_t vendor) {
  UsbDeviceLayout layout = UsbDeviceLayout::module("0001ABCD");
  layout.vendorId = vendor;
  return layout;
}
UsbDeviceLayout withInterface(uint8_t cls, uint8_t sub, uint8_t proto,
                            std::vector<UsbEndpointLayout> endpoints) {
  UsbDeviceLayout layout = UsbDeviceLayout::module("0001ABCD");
  layout.interfaces = {UsbInterfaceLayout{0, cls, sub, proto, std::move(endpoints)}};
  return layout;
}

TEST_F(ZpusbTest, DevicesThatAreNotTheRequestedModule) {
  const std::vector<BadDevice> cases = {
      {"lower-case request", withSerial("0001ABCD"), "0001abcd", aErrNotFound, zpusbStateCreated},
      {"lower-case serial", withSerial("0001abcd"), "0001ABCD", aErrNotFound, zpusbStateCreated},
      {"7-character serial", withSerial("0001ABC"), "0001ABCD", aErrNotFound, zpusbStateCreated},
      {"9-character serial", withSerial("0001ABCDE"), "0001ABCD", aErrNotFound, zpusbStateCreated},
      {"product bit 15", withProduct(0x8113), "0001ABCD", aErrNotFound, zpusbStateCreated},
      {"other vendor", withVendor(ZEPRIC_USB_VENDOR_ID ^ 1), "0001ABCD", aErrNotFound,
       zpusbStateCreated},
      {"no vendor interface", withInterface(0xFF, 0x00, 0x00, {{0x81, 2}, {0x02, 2}}), "0001ABCD",
       aErrConfiguration, zpusbStateClosed},
      {"wrong protocol", withInterface(0xFF, 0x88, 0x11, {{0x81, 2}, {0x02, 2}}), "0001ABCD",
       aErrConfiguration, zpusbStateClosed},
      {"only an IN endpoint", withInterface(0xFF, 0x88, 0x10, {{0x81, 2}}), "0001ABCD",
       aErrConfiguration, zpusbStateClosed},
      {"only an OUT endpoint", withInterface(0xFF, 0x88, 0x10, {{0x02, 3}}), "0001ABCD",
       aErrConfiguration, zpusbStateClosed},
      {"isochronous endpoints", withInterface(0xFF, 0x88, 0x10, {{0x81, 1}, {0x02, 1}}),
       "0001ABCD", aErrConfiguration, zpusbStateClosed},
  };
  for (const BadDevice& bad : cases) {
    SCOPED_TRACE(bad.name);
    UsbTestbed bus;
    bus.add(bad.layout);
    zpusb* usb = zpusb_create_usb(zpusbModeLibusb);
    ASSERT_NE(usb, nullptr);
    EXPECT_EQ(zpusb_open_zepric_device(usb, bad.requested), bad.result);
    EXPECT_EQ(zpusb_get_state(usb), bad.state);
    uint8_t byte;
    EXPECT_NE(zpusb_get_from_device(usb, &byte), aErrNone);
    zpusb_destroy(&usb);
  }
}

TEST_F(ZpusbTest, FindsTheVendorInterfaceBehindOthers) {
  UsbDeviceLayout layout = UsbDeviceLayout::module("0001ABCD");
  UsbInterfaceLayout other{0, 0x02, 0x02, 0x01, {{0x83, 3}, {0x04, 2}}};
  UsbInterfaceLayout vendor{1, 0xFF, 0x88, 0x10, {{0x81, 2}, {0x02, 3}}};
  layout.interfaces = {other, vendor};
  EmulatedUsbModule& module = bus_->add(layout);
  module.setPeer([&module](const uint8_t* data, size_t n) { module.sendToHost(data, n); });
  zpusb* usb = openOrFail("0001ABCD");
  const uint8_t ping = 0x5A;
  ASSERT_EQ(zpusb_write_to_device(usb, &ping, 1), aErrNone);
  EXPECT_EQ(readBytes(usb, 1), std::vector<uint8_t>{ping});
}

TEST_F(ZpusbTest, ClaimFailuresAreMapped) {
  const struct {
    int error;
    aErr result;
  } cases[] = {{EBUSY, aErrBusy}, {ENODEV, aErrBusy}, {EPROTO, aErrUnknown}};
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    module.failClaimsWith(c.error);
    zpusb* usb = create();
    EXPECT_EQ(zpusb_open_zepric_device(usb, "0001ABCD"), c.result);
    EXPECT_EQ(zpusb_get_state(usb), zpusbStateClosed);
    EXPECT_EQ(zpusb_write_to_device(usb, &kIn, 1), aErrConnection);
  }
}

TEST_F(ZpusbTest, InterfaceHeldByAnotherHandleIsBusy) {
  bus_->add("0001ABCD");
  zpusb* holder = openOrFail("0001ABCD");
  zpusb* second = create();
  EXPECT_EQ(zpusb_open_zepric_device(second, "0001ABCD"), aErrBusy);
  ASSERT_EQ(zpusb_close_zepric_device(holder), aErrNone);
  EXPECT_EQ(zpusb_open_zepric_device(second, "0001ABCD"), aErrNone);
}

TEST_F(ZpusbTest, OpensTheModuleWithTheRequestedSerialAmongSeveral) {
  echoModule("00000001");
  EmulatedUsbModule& wanted = bus_->add("00000002");
  zpusb* usb = openOrFail("00000002");
  const uint8_t byte = 9;
  ASSERT_EQ(zpusb_write_to_device(usb, &byte, 1), aErrNone);
  EXPECT_EQ(wanted.bytesFromHost(), std::vector<uint8_t>{byte});
}

TEST_F(ZpusbTest, ReadWithNothingSentIsNotReady) {
  bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  uint8_t byte;
  EXPECT_EQ(zpusb_get_from_device(usb, &byte), aErrNotReady);
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateOpen);
}

TEST_F(ZpusbTest, StalledInEndpointIsClearedAndReadsGoOn) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  module.stall(kIn);
  uint8_t byte;
  EXPECT_EQ(zpusb_get_from_device(usb, &byte), aErrNotReady);
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateOpen);
  module.sendToHost({0x42});
  EXPECT_EQ(readBytes(usb, 1), std::vector<uint8_t>{0x42});
}

TEST_F(ZpusbTest, StalledOutEndpointIsClearedAndTheChunkResent) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  module.stall(kOut);
  const std::vector<uint8_t> data = pattern(60);
  EXPECT_EQ(zpusb_write_to_device(usb, data.data(), data.size()), aErrNone);
  EXPECT_EQ(module.bytesFromHost(), data);
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateOpen);
}

TEST_F(ZpusbTest, OutStallThatCannotBeClearedFailsTheRecord) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  module.refuseClearHalt(true);
  module.stall(kOut);
  const uint8_t data[2] = {1, 2};
  EXPECT_EQ(zpusb_write_to_device(usb, data, sizeof(data)), aErrWrite);
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateFailed);
  EXPECT_EQ(zpusb_write_to_device(usb, data, sizeof(data)), aErrIO);
  EXPECT_TRUE(module.bytesFromHost().empty());
}

TEST_F(ZpusbTest, TimedOutChunkIsResentOnce) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  module.ignoreOutTransfers(1);
  const std::vector<uint8_t> data = pattern(70);
  EXPECT_EQ(zpusb_write_to_device(usb, data.data(), data.size()), aErrNone);
  EXPECT_EQ(module.bytesFromHost(), data);
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateOpen);
}

TEST_F(ZpusbTest, ChunkThatTimesOutTwiceFailsTheRecordButIsDelivered) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  module.ignoreOutTransfers(2);
  const std::vector<uint8_t> data = pattern(20);
  EXPECT_EQ(zpusb_write_to_device(usb, data.data(), data.size()), aErrIO);
  EXPECT_EQ(module.bytesFromHost(), data);
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateFailed);
  uint8_t byte;
  EXPECT_EQ(zpusb_get_from_device(usb, &byte), aErrIO);
}

TEST_F(ZpusbTest, UnplugDuringAReadFailsEveryLaterTransferUntilReopened) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  aErr readResult = aErrNone;
  std::thread reader([&] {
    uint8_t byte;
    do readResult = zpusb_get_from_device(usb, &byte);
    while (readResult == aErrNotReady);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  module.unplug();
  reader.join();
  EXPECT_EQ(readResult, aErrIO);
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateFailed);
  uint8_t byte = 0;
  EXPECT_EQ(zpusb_get_from_device(usb, &byte), aErrIO);
  EXPECT_EQ(zpusb_write_to_device(usb, &byte, 1), aErrIO);

  module.plug();
  EXPECT_EQ(zpusb_get_from_device(usb, &byte), aErrIO);
  zpusb* again = openOrFail("0001ABCD");
  module.sendToHost({0x33});
  EXPECT_EQ(readBytes(again, 1), std::vector<uint8_t>{0x33});
}

TEST_F(ZpusbTest, WriteToAnUnpluggedModuleFails) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  module.unplug();
  const uint8_t byte = 1;
  EXPECT_NE(zpusb_write_to_device(usb, &byte, 1), aErrNone);
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateFailed);
  EXPECT_EQ(zpusb_write_to_device(usb, &byte, 1), aErrIO);
}

TEST_F(ZpusbTest, ReplugUnderAnotherSerialIsFoundByIt) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  module.unplug();
  module.plug("DEADDEAD");
  zpusb* old = create();
  EXPECT_EQ(zpusb_open_zepric_device(old, "0001ABCD"), aErrNotFound);
  openOrFail("DEADDEAD");
}

TEST_F(ZpusbTest, CloseReleasesTheInterfaceAndEndsTransfers) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  zpusb* usb = openOrFail("0001ABCD");
  EXPECT_EQ(zpusb_close_zepric_device(usb), aErrNone);
  EXPECT_FALSE(module.interfaceClaimed());
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateClosed);
  uint8_t byte = 0;
  EXPECT_EQ(zpusb_get_from_device(usb, &byte), aErrConnection);
  EXPECT_EQ(zpusb_write_to_device(usb, &byte, 1), aErrConnection);
  EXPECT_EQ(zpusb_close_zepric_device(usb), aErrMode);
}

TEST_F(ZpusbTest, RecordsThatAreNotOpen) {
  zpusb* usb = create();
  uint8_t byte = 0;
  EXPECT_EQ(zpusb_get_state(usb), zpusbStateCreated);
  EXPECT_EQ(zpusb_get_from_device(usb, &byte), aErrNotReady);
  EXPECT_EQ(zpusb_write_to_device(usb, &byte, 1), aErrNotReady);
  EXPECT_EQ(zpusb_close_zepric_device(usb), aErrMode);
  EXPECT_EQ(zpusb_open_zepric_device(usb, "0001ABCD"), aErrNotFound);

  zpusb* kernel = zpusb_create_usb(zpusbModeKernel);
  ASSERT_NE(kernel, nullptr);
  EXPECT_EQ(zpusb_get_from_device(kernel, &byte), aErrMode);
  EXPECT_EQ(zpusb_write_to_device(kernel, &byte, 1), aErrMode);
  EXPECT_EQ(zpusb_close_zepric_device(kernel), aErrNone);
  EXPECT_EQ(zpusb_destroy(&kernel), aErrNone);
  EXPECT_EQ(kernel, nullptr);
  EXPECT_EQ(zpusb_destroy(&kernel), aErrParam);
}

}  // namespace
