#include <gtest/gtest.h>

#include "aError.h"

TEST(aError, NamesAndDescriptionsFollowTheCode) {
    EXPECT_STREQ(aError_GetErrorText(aErrNone), "aErrNone");
    EXPECT_STREQ(aError_GetErrorDescription(aErrNone), "Success, no error");
    EXPECT_STREQ(aError_GetErrorText(aErrTimeout), "aErrTimeout");
    EXPECT_STREQ(aError_GetErrorDescription(aErrShortCommand), "Zepric command to short");
    EXPECT_STREQ(aError_GetErrorText(aErrStreamStale), "aErrStreamStale");
    EXPECT_STREQ(aError_GetErrorDescription(aErrUnknown), "Unknown error");
}

TEST(aError, CodesOutsideTheTableReadAsUnknown) {
    for (int32_t code : {35, -1, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(code);
        EXPECT_STREQ(aError_GetErrorText(static_cast<aErr>(code)), "aErrUnknown");
        EXPECT_STREQ(aError_GetErrorDescription(static_cast<aErr>(code)), "Unknown error");
    }
}
