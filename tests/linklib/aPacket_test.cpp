#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "aPacket.h"

namespace {

struct AssemblyCase {
    const char* name;
    std::vector<uint8_t> bytes;
    std::vector<aErr> results;  // one per byte
    bool complete;              // after the last byte
};

std::vector<uint8_t> maxPacket() {
    std::vector<uint8_t> bytes = {0x10, 28};
    for (uint8_t i = 0; i < 28; i++) {
        bytes.push_back(static_cast<uint8_t>(0xA0 + i));
    }
    return bytes;
}

std::vector<aErr> allNone(size_t n) {
    return std::vector<aErr>(n, aErrNone);
}

}  // namespace

TEST(aPacket, AssemblyByteByByte) {
    std::vector<uint8_t> overlong = maxPacket();
    overlong.push_back(0x55);
    std::vector<aErr> overlongResults = allNone(30);
    overlongResults.push_back(aErrOverrun);

    const AssemblyCase cases[] = {
        {"empty payload", {0x04, 0x00}, {aErrNone, aErrNone}, true},
        {"three bytes", {0x08, 0x03, 0x01, 0x02, 0x03}, allNone(5), true},
        {"payload in progress", {0x08, 0x03, 0x01}, allNone(3), false},
        {"byte after complete", {0x08, 0x03, 0x01, 0x02, 0x03, 0x09},
         {aErrNone, aErrNone, aErrNone, aErrNone, aErrNone, aErrPacket}, false},
        {"byte after complete empty packet", {0x04, 0x00, 0x05}, {aErrNone, aErrNone, aErrPacket}, false},
        {"zero address", {0x00}, {aErrPacket}, false},
        {"odd address", {0xAD}, {aErrPacket}, false},
        {"length 29", {0x06, 29}, {aErrNone, aErrPacket}, false},
        {"length 28", maxPacket(), allNone(30), true},
        {"31st byte", overlong, overlongResults, false},
    };
    for (const AssemblyCase& c : cases) {
        SCOPED_TRACE(c.name);
        aPacket* packet = aPacket_Create();
        ASSERT_NE(packet, nullptr);
        for (size_t i = 0; i < c.bytes.size(); i++) {
            EXPECT_EQ(aPacket_AddByte(packet, c.bytes[i]), c.results[i]) << "byte " << i;
        }
        EXPECT_EQ(aPacket_IsComplete(packet), c.complete);
        aPacket_Destroy(&packet);
    }
}

TEST(aPacket, AssembledPayloadLandsInOrder) {
    aPacket* packet = aPacket_Create();
    const std::vector<uint8_t> bytes = maxPacket();
    for (uint8_t b : bytes) {
        ASSERT_EQ(aPacket_AddByte(packet, b), aErrNone);
    }
    EXPECT_EQ(packet->address, 0x10);
    EXPECT_EQ(packet->length, 28);
    EXPECT_EQ(memcmp(packet->data, bytes.data() + 2, 28), 0);
    aPacket_Destroy(&packet);
}

TEST(aPacket, ResetAllowsTheNextPacket) {
    aPacket* packet = aPacket_Create();
    for (uint8_t b : {0x08, 0x03, 0x01, 0x02, 0x03}) {
        aPacket_AddByte(packet, b);
    }
    ASSERT_EQ(aPacket_Reset(packet), aErrNone);
    EXPECT_EQ(packet->received, 0);
    EXPECT_EQ(packet->address, 0);
    EXPECT_EQ(packet->length, 0);
    EXPECT_EQ(packet->data[0], 0);
    EXPECT_FALSE(aPacket_IsComplete(packet));
    EXPECT_EQ(aPacket_AddByte(packet, 0x02), aErrNone);
    EXPECT_EQ(aPacket_AddByte(packet, 0x00), aErrNone);
    EXPECT_TRUE(aPacket_IsComplete(packet));
    aPacket_Destroy(&packet);
}

TEST(aPacket, FeedingAFailedRecordNeverWritesOutsideIt) {
    aPacket* packet = aPacket_Create();
    aPacket_AddByte(packet, 0x02);
    aPacket_AddByte(packet, 28);
    for (int i = 0; i < 600; i++) {
        aPacket_AddByte(packet, 0x77);
    }
    EXPECT_EQ(aPacket_AddByte(packet, 0x77), aErrOverrun);
    EXPECT_EQ(packet->check, aPACKET_CHECK);
    aPacket_Destroy(&packet);
}

TEST(aPacket, CreateWithDataAndCopy) {
    const uint8_t payload[] = {0x05, 0xC3, 0xFF};
    aPacket* packet = aPacket_CreateWithData(0x07, 3, payload);  // odd addresses are allowed here
    ASSERT_NE(packet, nullptr);
    EXPECT_TRUE(aPacket_IsComplete(packet));
    EXPECT_EQ(packet->address, 0x07);

    aPacket* copy = aPacket_Copy(packet);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, packet);
    EXPECT_EQ(copy->address, 0x07);
    EXPECT_EQ(copy->length, 3);
    EXPECT_EQ(memcmp(copy->data, payload, 3), 0);
    EXPECT_EQ(copy->data[3], 0);
    EXPECT_TRUE(aPacket_IsComplete(copy));
    aPacket_Destroy(&copy);
    aPacket_Destroy(&packet);
}

TEST(aPacket, CreateWithDataRefusesWhatWouldOverrunThePayload) {
    uint8_t big[40] = {0};
    EXPECT_EQ(aPacket_CreateWithData(0x02, 29, big), nullptr);
    EXPECT_EQ(aPacket_CreateWithData(0x02, 1, nullptr), nullptr);
    aPacket* empty = aPacket_CreateWithData(0x02, 0, nullptr);
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(aPacket_IsComplete(empty));
    aPacket_Destroy(&empty);
}

TEST(aPacket, HeaderFieldAccessors) {
    const uint8_t payload[] = {0x05, 0xC3, 0xFF};
    uint8_t value = 0;
    for (uint8_t length = 0; length <= 3; length++) {
        SCOPED_TRACE(static_cast<int>(length));
        aPacket* packet = aPacket_CreateWithData(0x02, length, payload);
        EXPECT_EQ(aPacket_GetCmd(packet, &value), length >= 1 ? aErrNone : aErrPacket);
        if (length >= 1) {
            EXPECT_EQ(value, 0x05);
        }
        EXPECT_EQ(aPacket_GetOption(packet, &value), length >= 2 ? aErrNone : aErrPacket);
        if (length >= 2) {
            EXPECT_EQ(value, 3);
        }
        EXPECT_EQ(aPacket_GetIndex(packet, &value), length >= 3 ? aErrNone : aErrPacket);
        if (length >= 3) {
            EXPECT_EQ(value, 31);
        }
        EXPECT_EQ(aPacket_GetCmd(packet, nullptr), aErrParam);
        aPacket_Destroy(&packet);
    }
}

TEST(aPacket, InvalidRecordsAreRefused) {
    aPacket forged;
    memset(&forged, 0, sizeof(forged));
    uint8_t value;
    EXPECT_EQ(aPacket_AddByte(&forged, 0x02), aErrParam);
    EXPECT_EQ(aPacket_AddByte(nullptr, 0x02), aErrParam);
    EXPECT_EQ(aPacket_Reset(&forged), aErrParam);
    EXPECT_EQ(aPacket_GetCmd(&forged, &value), aErrPacket);
    EXPECT_FALSE(aPacket_IsComplete(nullptr));
    EXPECT_EQ(aPacket_Copy(&forged), nullptr);
}

TEST(aPacket, DestroyClearsTheCallersPointer) {
    aPacket* packet = aPacket_Create();
    EXPECT_EQ(aPacket_Destroy(&packet), aErrNone);
    EXPECT_EQ(packet, nullptr);
    EXPECT_EQ(aPacket_Destroy(&packet), aErrParam);
    EXPECT_EQ(aPacket_Destroy(nullptr), aErrParam);
}
