#include <gtest/gtest.h>

#include "unix_time.h"

TEST(aTime, TicksNeverRunBackwardsAndSleepsPass) {
    const uint64_t start = aTime_GetMSTicks();
    EXPECT_NE(start, 0u);
    uint64_t previous = start;
    for (int i = 0; i < 1000; i++) {
        const uint64_t now = aTime_GetMSTicks();
        ASSERT_GE(now, previous);
        previous = now;
    }
    EXPECT_EQ(aTime_MSSleep(20), aErrNone);
    EXPECT_GE(aTime_GetMSTicks() - start, 20u);
}

TEST(aTime, ZeroSleepReturns) {
    osMSSleep(0);
    EXPECT_EQ(aTime_MSSleep(0), aErrNone);
}

TEST(aTime, SleepsLongerThanOneSecondPiece) {
    // Crosses the sub-second piece boundary: all of the time must pass.
    const uint64_t start = aTime_GetMSTicks();
    osMSSleep(1100);
    EXPECT_GE(aTime_GetMSTicks() - start, 1100u);
}
