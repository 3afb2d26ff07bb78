#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "UsbTestbed.h"
#include "aDiscovery.h"

namespace {

struct Collected {
  std::vector<linkSpec> specs;
  size_t stopAfter = SIZE_MAX;
  bool take = true;
};

bool collect(const linkSpec* spec, bool* success, void* ref) {
  auto& collected = *static_cast<Collected*>(ref);
  collected.specs.push_back(*spec);
  *success = collected.take;
  return collected.specs.size() < collected.stopAfter;
}

class UsbDiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SKIP_WITHOUT_USB_EMULATION();
    bus_ = std::make_unique<UsbTestbed>();
  }
  std::unique_ptr<UsbTestbed> bus_;
};

TEST_F(UsbDiscoveryTest, ListsOnlyModulesWithAnEightDigitSerial) {
  UsbDeviceLayout otherVendor = UsbDeviceLayout::module("11111111");
  otherVendor.vendorId = ZEPRIC_USB_VENDOR_ID ^ 0x100;
  bus_->add(UsbDeviceLayout::module("40F5849A", 0x0113));
  bus_->add(UsbDeviceLayout::module("0001ABC"));             // 7 characters
  bus_->add(UsbDeviceLayout::module("0001ABCDE"));           // 9 characters
  bus_->add(UsbDeviceLayout::module("0001XYZ1"));            // not hexadecimal
  bus_->add(UsbDeviceLayout::module("22222222", 0x8013));    // product bit 15
  bus_->add(otherVendor);
  bus_->add(UsbDeviceLayout::module("00000007", 0x7F05));

  Collected collected;
  EXPECT_EQ(aDiscovery_EnumerateModules(USB, collect, &collected), 2);
  ASSERT_EQ(collected.specs.size(), 2u);
  // The bus's list order is the emulation's, not the order the devices were added in.
  std::sort(collected.specs.begin(), collected.specs.end(),
            [](const linkSpec& a, const linkSpec& b) { return a.serialNumber > b.serialNumber; });
  linkSpec first = collected.specs[0];
  EXPECT_EQ(first.type, USB);
  EXPECT_EQ(first.serialNumber, 0x40F5849Au);
  EXPECT_EQ(first.ipAddress, 0x40F5849Au);
  EXPECT_EQ(first.model, 0x13u);
  EXPECT_EQ(first.moduleAddress, 0u);
  EXPECT_EQ(first.routerAddress, 0u);
  EXPECT_EQ(first.routerSerialNumber, 0u);
  EXPECT_EQ(first.port, 0u);
  EXPECT_EQ(collected.specs[1].serialNumber, 7u);
  EXPECT_EQ(collected.specs[1].model, 0x05u);
}

TEST_F(UsbDiscoveryTest, CallbackDecidesCountAndEnd) {
  bus_->add("00000001");
  bus_->add("00000002");
  Collected stopAtFirst;
  stopAtFirst.stopAfter = 1;
  EXPECT_EQ(aDiscovery_EnumerateModules(USB, collect, &stopAtFirst), 1);
  EXPECT_EQ(stopAtFirst.specs.size(), 1u);

  Collected declined;
  declined.take = false;
  EXPECT_EQ(aDiscovery_EnumerateModules(USB, collect, &declined), 0);
  EXPECT_EQ(declined.specs.size(), 2u);
}

TEST_F(UsbDiscoveryTest, FindsBySerialAndSeesReplugs) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  bus_->add("00000002");
  linkSpec* found = aDiscovery_FindModule(USB, 0x0001ABCD);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(found->serialNumber, 0x0001ABCDu);
  aLinkSpec_Destroy(&found);

  module.unplug();
  EXPECT_EQ(aDiscovery_FindModule(USB, 0x0001ABCD), nullptr);
  module.plug("DEADDEAD");
  found = aDiscovery_FindModule(USB, 0xDEADDEAD);
  ASSERT_NE(found, nullptr);
  aLinkSpec_Destroy(&found);
}

TEST_F(UsbDiscoveryTest, ModuleInUseIsStillListed) {
  EmulatedUsbModule& module = bus_->add("0001ABCD");
  module.failClaimsWith(EBUSY);
  Collected collected;
  EXPECT_EQ(aDiscovery_EnumerateModules(USB, collect, &collected), 1);
}

}  // namespace
