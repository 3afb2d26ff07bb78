#include <gtest/gtest.h>
#include <string.h>

#include "aDiscovery.h"

namespace {

TEST(LinkSpec, CreateCopyAndDestroy) {
  linkSpec* spec = aLinkSpec_Create(TCPIP);
  ASSERT_NE(spec, nullptr);
  EXPECT_EQ(spec->type, TCPIP);
  EXPECT_EQ(spec->serialNumber | spec->moduleAddress | spec->routerAddress |
                spec->routerSerialNumber | spec->model | spec->ipAddress | spec->port,
            0u);

  *spec = {USB, 0x40F5849A, 2, 4, 0x11223344, 0x13, 0x40F5849A, 8000};
  linkSpec* copy = aLinkSpec_Copy(spec);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy, spec);
  EXPECT_EQ(memcmp(copy, spec, sizeof(linkSpec)), 0);
  EXPECT_EQ(aLinkSpec_Copy(nullptr), nullptr);

  EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);
  EXPECT_EQ(spec, nullptr);
  EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrParam);
  EXPECT_EQ(aLinkSpec_Destroy(nullptr), aErrParam);
  EXPECT_EQ(aLinkSpec_Destroy(&copy), aErrNone);
}

TEST(Discovery, UnknownTransportOrNoCallbackFindsNothing) {
  int calls = 0;
  auto count = [](const linkSpec*, bool* success, void* ref) {
    ++*static_cast<int*>(ref);
    *success = true;
    return true;
  };
  EXPECT_EQ(aDiscovery_EnumerateModules(static_cast<linkType>(0), count, &calls), 0);
  EXPECT_EQ(aDiscovery_EnumerateModules(static_cast<linkType>(3), count, &calls), 0);
  EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, nullptr, nullptr), 0);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(aDiscovery_FindModule(static_cast<linkType>(3), 1), nullptr);
}

}  // namespace
