#include <gtest/gtest.h>

#include "aDefs.h"

TEST(aDefs, ModelNames) {
    EXPECT_STREQ(aDefs_GetModelName(4), "Larkel");
    EXPECT_STREQ(aDefs_GetModelName(13), "Nettor");
    EXPECT_STREQ(aDefs_GetModelName(24), "Zennel");
    for (uint32_t unknown : {0u, 6u, 12u, 25u, 255u, 0x104u}) {
        SCOPED_TRACE(unknown);
        EXPECT_STREQ(aDefs_GetModelName(unknown), "Unknown");
    }
}
