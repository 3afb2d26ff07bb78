#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "aVersion.h"

TEST(aVersion, LibraryVersion) {
    EXPECT_EQ(aVersion_GetMajor(), 2);
    EXPECT_EQ(aVersion_GetMinor(), 9);
    EXPECT_EQ(aVersion_GetPatch(), 26);
    EXPECT_STREQ(aVersion_GetString(), "2.9.26");
    EXPECT_EQ(aVersion_GetString(), aVersion_GetString());
}

TEST(aVersion, PackedFieldsSurviveARoundTrip) {
    struct {
        uint32_t major, minor, patch;
        const char* text;
    } const cases[] = {
        {2, 1, 5, "2.1.5"},
        {0, 0, 0, "0.0.0"},
        {15, 15, 16777215, "15.15.16777215"},
        {1, 14, 65536, "1.14.65536"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const uint32_t packed = aVersion_Pack(c.major, c.minor, c.patch);
        EXPECT_EQ(aVersion_ParseMajor(packed), c.major);
        EXPECT_EQ(aVersion_ParseMinor(packed), c.minor);
        EXPECT_EQ(aVersion_ParsePatch(packed), c.patch);
        char text[32];
        EXPECT_EQ(aVersion_ParseString(packed, text, sizeof(text)), static_cast<int>(strlen(c.text)));
        EXPECT_STREQ(text, c.text);
    }
    EXPECT_EQ(aVersion_Pack(2, 1, 5), 0x21000005u);
}

TEST(aVersion, ParseStringKeepsToTheBuffer) {
    char text[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(aVersion_ParseString(aVersion_Pack(12, 3, 456), text, 4), 8);
    EXPECT_STREQ(text, "12.");
}

TEST(aVersion, AtLeastComparesMajorThenMinorThenPatch) {
    EXPECT_TRUE(aVersion_IsAtLeastCompare(2, 9, 26, 2, 9, 26));
    EXPECT_TRUE(aVersion_IsAtLeastCompare(3, 0, 0, 2, 9, 26));
    EXPECT_TRUE(aVersion_IsAtLeastCompare(2, 10, 0, 2, 9, 26));
    EXPECT_FALSE(aVersion_IsAtLeastCompare(2, 9, 25, 2, 9, 26));
    EXPECT_FALSE(aVersion_IsAtLeastCompare(1, 99, 99, 2, 0, 0));
    EXPECT_TRUE(aVersion_IsAtLeast(2, 9, 26));
    EXPECT_FALSE(aVersion_IsAtLeast(2, 9, 27));
}

TEST(aVersion, Features) {
    EXPECT_TRUE(aVersion_HasFeature("VERSION"));
    EXPECT_FALSE(aVersion_HasFeature("VERSIONS"));
    EXPECT_FALSE(aVersion_HasFeature("version"));
    EXPECT_FALSE(aVersion_HasFeature(nullptr));
    char* list = aVersion_GetFeatureList();
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(std::string(list), "VERSION - Version Query API");
    EXPECT_EQ(aVersion_DestroyFeatureList(&list), aErrNone);
    EXPECT_EQ(list, nullptr);
}
