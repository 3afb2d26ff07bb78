#include <gtest/gtest.h>

#include <vector>

#include "aPacketDebug.h"

namespace {

struct Entry {
  uint8_t direction;
  std::vector<uint8_t> bytes;
  bool operator==(const Entry& other) const {
    return direction == other.direction && bytes == other.bytes;
  }
};

std::vector<Entry> readAll(aPacketLog* log) {
  std::vector<Entry> entries;
  for (;;) {
    uint8_t direction = 0;
    uint8_t buffer[256];
    uint32_t length = sizeof(buffer);
    if (aPacketLog_Get(log, &direction, &length, buffer) != aErrNone) break;
    entries.push_back({direction, std::vector<uint8_t>(buffer, buffer + length)});
  }
  return entries;
}

aErr putBytes(aPacketLog* log, uint8_t direction, std::vector<uint8_t> bytes) {
  return aPacketLog_Put(log, direction, static_cast<uint32_t>(bytes.size()), bytes.data());
}

TEST(PacketLog, EntriesComeBackInOrderAcrossTheRingEnd) {
  aPacketLog* log = aPacketLog_Create(16);
  ASSERT_NE(log, nullptr);
  // Each round writes past the end of the 16-byte ring at a different offset.
  for (uint8_t round = 0; round < 10; round++) {
    ASSERT_EQ(putBytes(log, 1, {round, 2, 3, 4}), aErrNone);
    ASSERT_EQ(putBytes(log, 2, {round}), aErrNone);
    EXPECT_EQ(readAll(log), (std::vector<Entry>{{1, {round, 2, 3, 4}}, {2, {round}}}));
  }
  aPacketLog_Destroy(&log);
  EXPECT_EQ(log, nullptr);
}

TEST(PacketLog, FullRingDropsOldestUntilTheNewEntryFits) {
  aPacketLog* log = aPacketLog_Create(16);
  ASSERT_EQ(putBytes(log, 1, {1, 1, 1}), aErrNone);  // 5 bytes
  ASSERT_EQ(putBytes(log, 1, {2, 2, 2}), aErrNone);  // 10
  ASSERT_EQ(putBytes(log, 1, {3, 3, 3}), aErrNone);  // 15: full, one byte stays free
  ASSERT_EQ(putBytes(log, 2, {4, 4, 4, 4, 4, 4}), aErrNone);  // needs the first two gone
  EXPECT_EQ(readAll(log), (std::vector<Entry>{{1, {3, 3, 3}}, {2, {4, 4, 4, 4, 4, 4}}}));
  aPacketLog_Destroy(&log);
}

TEST(PacketLog, RefusesEntriesThatCanNeverFit) {
  aPacketLog* log = aPacketLog_Create(16);
  EXPECT_EQ(putBytes(log, 1, std::vector<uint8_t>(14, 7)), aErrOverrun);
  EXPECT_EQ(putBytes(log, 1, std::vector<uint8_t>(13, 7)), aErrNone);
  aPacketLog_Destroy(&log);

  // The length travels in one byte; a longer entry must not be stored garbled.
  aPacketLog* big = aPacketLog_Create(0);
  EXPECT_EQ(putBytes(big, 1, std::vector<uint8_t>(256, 7)), aErrSize);
  EXPECT_EQ(putBytes(big, 1, std::vector<uint8_t>(255, 7)), aErrNone);
  aPacketLog_Destroy(&big);

  EXPECT_EQ(aPacketLog_Create(aPACKETLOG_MAX_SIZE + 1), nullptr);
}

TEST(PacketLog, ReadIntoSmallBufferKeepsTheEntry) {
  aPacketLog* log = aPacketLog_Create(0);
  uint8_t direction = 0;
  uint8_t buffer[8];
  uint32_t length = sizeof(buffer);
  EXPECT_EQ(aPacketLog_Get(log, &direction, &length, buffer), aErrNotFound);

  ASSERT_EQ(putBytes(log, 3, {'S', 'T', 'A', 'R', 'T', 0}), aErrNone);
  length = 5;
  EXPECT_EQ(aPacketLog_Get(log, &direction, &length, buffer), aErrOverrun);
  EXPECT_EQ(length, 6u);
  length = sizeof(buffer);
  ASSERT_EQ(aPacketLog_Get(log, &direction, &length, buffer), aErrNone);
  EXPECT_EQ(direction, 3);
  EXPECT_STREQ(reinterpret_cast<char*>(buffer), "START");
  aPacketLog_Destroy(&log);
}

}  // namespace
