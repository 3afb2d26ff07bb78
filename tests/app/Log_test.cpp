#include "Log.h"

#include <gtest/gtest.h>

#include <string>

#include "TraceCapture.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Log::package_bitmask = 0;
    Log::timestamped = false;
  }
  TraceCapture capture{0};
};

TEST_F(LogTest, WritesOnlyActivePackagesAndAlwaysPackageZero) {
  Log::log(DEBUG_BirdFile, "bird %d\n", 1);
  Log::log(0, "always\n");
  Log::ActivatePackage(DEBUG_Network_FIRM);
  Log::log(DEBUG_Network_FIRM, "NETWORK: %s\n", "up");
  Log::log(DEBUG_BirdFile, "bird %d\n", 2);
  Log::log(DEBUG_BirdFile | DEBUG_Network_FIRM, "either\n");
  Log::DeactivatePackage(DEBUG_Network_FIRM);
  Log::log(DEBUG_Network_FIRM, "gone\n");
  EXPECT_EQ(capture.text(), "always\nNETWORK: up\neither\n");
}

TEST_F(LogTest, NothingIsWrittenWithoutAnOutput) {
  Log::SetOutput(nullptr);
  Log::log(0, "lost\n");
  EXPECT_EQ(capture.text(), "");
}

TEST_F(LogTest, LongLinesAreCutTo2047Characters) {
  std::string text(5000, 'x');
  Log::log(0, "%s", text.c_str());
  EXPECT_EQ(capture.text(), std::string(2047, 'x'));
}

}  // namespace
