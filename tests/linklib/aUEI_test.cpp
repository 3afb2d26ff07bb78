#include <gtest/gtest.h>

#include <stdint.h>
#include <string.h>

#include "aUEI.h"

TEST(aUEI, ValuesAreBigEndianOnEveryHost) {
    const uint8_t intBytes[] = {0x00, 0x00, 0x01, 0x02};
    EXPECT_EQ(aUEI_RetrieveInt(intBytes), 258u);
    const uint8_t highInt[] = {0xFF, 0x00, 0x00, 0x01};
    EXPECT_EQ(aUEI_RetrieveInt(highInt), 0xFF000001u);
    const uint8_t shortBytes[] = {0xFF, 0xFE};
    EXPECT_EQ(aUEI_RetrieveShort(shortBytes), 0xFFFEu);
    // The result type itself must be unsigned, not just the printed value.
    EXPECT_GT(static_cast<int64_t>(aUEI_RetrieveShort(shortBytes)), 0);
}

TEST(aUEI, StoreWritesMostSignificantFirstAndRoundTrips) {
    uint8_t bytes[6] = {0xEE, 0, 0, 0, 0, 0xEE};
    aUEI_StoreInt(bytes + 1, 0x12345678u);
    EXPECT_EQ(bytes[1], 0x12);
    EXPECT_EQ(bytes[4], 0x78);
    EXPECT_EQ(aUEI_RetrieveInt(bytes + 1), 0x12345678u);
    aUEI_StoreShort(bytes + 1, 0xBEEF);
    EXPECT_EQ(bytes[1], 0xBE);
    EXPECT_EQ(bytes[2], 0xEF);
    EXPECT_EQ(aUEI_RetrieveShort(bytes + 1), 0xBEEF);
    EXPECT_EQ(bytes[0], 0xEE);  // neighbours untouched
    EXPECT_EQ(bytes[5], 0xEE);
}

TEST(aUEI, ModifyIntBufferConvertsOnlyTheCountedWords) {
    uint32_t words[3];
    uint8_t* bytes = reinterpret_cast<uint8_t*>(words);
    const uint8_t wire[12] = {0, 0, 0, 1, 0xDE, 0xAD, 0xBE, 0xEF, 9, 9, 9, 9};
    memcpy(bytes, wire, sizeof(wire));
    aUEI_ModifyIntBuffer(words, 2);
    EXPECT_EQ(words[0], 1u);
    EXPECT_EQ(words[1], 0xDEADBEEFu);
    EXPECT_EQ(memcmp(bytes + 8, wire + 8, 4), 0);
}
