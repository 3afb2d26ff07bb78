#include <gtest/gtest.h>

#include <vector>

#include "UsbTestbed.h"
#include "aStream.h"
#include "zpusb_driver.h"

namespace {

class UsbStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_USB_EMULATION();
    bus_ = std::make_unique<UsbTestbed>();
  }
  void TearDown() override {
    if (stream_) aStream_Destroy(&stream_);
  }
  // Reads n bytes with the stream's all-or-nothing read, waiting out empty transfers.
  std::vector<uint8_t> readAll(size_t n) {
    std::vector<uint8_t> got(n);
    aErr result = aErrNotReady;
    for (int tries = 0; result == aErrNotReady && tries < 20; tries++)
      result = aStream_Read(stream_, got.data(), n);
    EXPECT_EQ(result, aErrNone);
    return got;
  }

  std::unique_ptr<UsbTestbed> bus_;
  aStream* stream_ = nullptr;
};

TEST_F(UsbStreamTest, CarriesBytesBothWays) {
  EmulatedUsbModule& module = bus_->add("40F5849A");
  module.setPeer([&module](const uint8_t* data, size_t n) { module.sendToHost(data, n); });
  ASSERT_EQ(aStream_CreateUSB(0x40F5849A, &stream_), aErrNone);
  ASSERT_NE(stream_, nullptr);
  const std::vector<uint8_t> data = {0x10, 0x20, 0x30, 0x40};
  ASSERT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrNone);
  EXPECT_EQ(module.outTransferSizes(), std::vector<size_t>{data.size()});
  EXPECT_EQ(readAll(data.size()), data);
  const uint8_t single = 0x77;
  ASSERT_EQ(aStream_Write(stream_, &single, 1), aErrNone);
  EXPECT_EQ(readAll(1), std::vector<uint8_t>{single});
}

TEST_F(UsbStreamTest, DestroyReleasesTheModule) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  ASSERT_EQ(aStream_CreateUSB(0x0001ABCD, &stream_), aErrNone);
  EXPECT_TRUE(module.interfaceClaimed());
  EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);
  EXPECT_EQ(stream_, nullptr);
  EXPECT_FALSE(module.interfaceClaimed());
  EXPECT_EQ(aStream_Destroy(&stream_), aErrParam);
}

TEST_F(UsbStreamTest, CreationFailuresLeaveNoStream) {
  struct Case {
    const char* name;
    UsbDeviceLayout layout;
    int claimError;
    uint32_t serial;
    aErr result;
  };
  UsbDeviceLayout noInterface = UsbDeviceLayout::module("0001ABCD");
  noInterface.interfaces[0].interfaceClass = 0x02;
  UsbDeviceLayout oneEndpoint = UsbDeviceLayout::module("0001ABCD");
  oneEndpoint.interfaces[0].endpoints.pop_back();
  const std::vector<Case> cases = {
      {"not attached", UsbDeviceLayout::module("0001ABCD"), 0, 0x0001ABCE, aErrNotFound},
      {"lower-case serial string", UsbDeviceLayout::module("0001abcd"), 0, 0x0001ABCD, aErrNotFound},
      {"no vendor interface", noInterface, 0, 0x0001ABCD, aErrConfiguration},
      {"one endpoint", oneEndpoint, 0, 0x0001ABCD, aErrConfiguration},
      {"interface held elsewhere", UsbDeviceLayout::module("0001ABCD"), EBUSY, 0x0001ABCD, aErrBusy},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UsbTestbed bus;
    bus.add(c.layout).failClaimsWith(c.claimError);
    aStream* stream = reinterpret_cast<aStream*>(0x1);
    EXPECT_EQ(aStream_CreateUSB(c.serial, &stream), c.result);
    EXPECT_EQ(stream, nullptr);
  }
  EXPECT_EQ(aStream_CreateUSB(0x0001ABCD, nullptr), aErrParam);
  aStream* untouched = nullptr;
  EXPECT_EQ(aStream_CreateUSB(0, &untouched), aErrParam);
}

TEST_F(UsbStreamTest, UnpluggedModuleFailsTheStreamUntilRecreated) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  ASSERT_EQ(aStream_CreateUSB(0x0001ABCD, &stream_), aErrNone);
  module.unplug();
  uint8_t byte = 0;
  EXPECT_EQ(aStream_Read(stream_, &byte, 1), aErrIO);
  EXPECT_EQ(aStream_Write(stream_, &byte, 1), aErrIO);
  aStream_Destroy(&stream_);
  module.plug();
  ASSERT_EQ(aStream_CreateUSB(0x0001ABCD, &stream_), aErrNone);
  module.sendToHost({0x5C});
  EXPECT_EQ(readAll(1), std::vector<uint8_t>{0x5C});
}

TEST_F(UsbStreamTest, KernelDriverNodeIsPreferredOverLibusb) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  EXPECT_FALSE(zpusb_is_kernel_driver_installed(0x0001ABCD));
  EmulatedKernelNode& node = bus_->addKernelNode("0001ABCD");
  EXPECT_TRUE(zpusb_is_kernel_driver_installed(0x0001ABCD));
  ASSERT_EQ(aStream_CreateUSB(0x0001ABCD, &stream_), aErrNone);
  EXPECT_FALSE(module.interfaceClaimed());

  const std::vector<uint8_t> data = {1, 2, 3};
  ASSERT_EQ(aStream_Write(stream_, data.data(), data.size()), aErrNone);
  EXPECT_EQ(node.bytesFromHost(), data);
  EXPECT_TRUE(module.bytesFromHost().empty());
  uint8_t byte = 0;
  EXPECT_EQ(aStream_Read(stream_, &byte, 1), aErrNotReady);  // the driver's EFAULT
  node.sendToHost({9, 8});
  EXPECT_EQ(readAll(2), (std::vector<uint8_t>{9, 8}));
  EXPECT_EQ(aStream_Destroy(&stream_), aErrNone);
}

}  // namespace
