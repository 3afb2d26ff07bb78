#include "Log.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Captures what the trace writes through a memory stream.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stream_ = open_memstream(&buffer_, &size_);
    Log::package_bitmask = 0;
    Log::timestamped = false;
    Log::SetOutput(stream_);
  }
  void TearDown() override {
    Log::SetOutput(nullptr);
    Log::package_bitmask = 0;
    fclose(stream_);
    free(buffer_);
  }
  std::string written() {
    fflush(stream_);
    return std::string(buffer_, size_);
  }
  FILE* stream_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
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
  EXPECT_EQ(written(), "always\nNETWORK: up\neither\n");
}

TEST_F(LogTest, NothingIsWrittenWithoutAnOutput) {
  Log::SetOutput(nullptr);
  Log::log(0, "lost\n");
  Log::SetOutput(stream_);
  EXPECT_EQ(written(), "");
}

TEST_F(LogTest, LongLinesAreCutTo2047Characters) {
  std::string text(5000, 'x');
  Log::log(0, "%s", text.c_str());
  EXPECT_EQ(written(), std::string(2047, 'x'));
}

}  // namespace
