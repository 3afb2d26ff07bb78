#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "ScratchDir.h"
#include "aLogger.h"
#include "unix_time.h"

namespace {

std::atomic<int> gCalls{0};
std::atomic<uint32_t> gReference{0};

void sWriteTick(aUnixFile* file, uint32_t reference) {
    gReference = reference;
    aFile_Printf(file, "tick %d\n", gCalls.fetch_add(1));
    aTime_MSSleep(1);
}

std::string sContent(const std::string& path) {
    aUnixFile* file = aFile_Open(path.c_str(), aFileModeRead);
    std::string text;
    char buffer[256];
    uint64_t count = 0;
    while (file != nullptr && aFile_Read(file, buffer, sizeof(buffer), &count) == aErrNone) {
        text.append(buffer, count);
    }
    aFile_Close(&file);
    return text;
}

void sWaitForCalls(int atLeast) {
    while (gCalls.load() < atLeast) {
        aTime_MSSleep(1);
    }
}

}  // namespace

TEST(aLogger, RunsTheCallbackUntilDisabled) {
    ScratchDir dir;
    const std::string path = dir / "packets.log";
    gCalls = 0;
    aLogger* logger = aLogger_Create(42, sWriteTick, path.c_str());
    ASSERT_NE(logger, nullptr);
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);  // not running yet
    EXPECT_EQ(gCalls.load(), 0);

    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    EXPECT_EQ(aLogger_Enable(logger), aErrNone);  // one thread only
    sWaitForCalls(3);
    EXPECT_EQ(aLogger_Disable(logger), aErrNone);
    const int stopped = gCalls.load();
    EXPECT_EQ(gReference.load(), 42u);
    // Unbuffered: everything written so far is already in the file.
    EXPECT_EQ(sContent(path).find("tick " + std::to_string(stopped - 1) + "\n"),
              sContent(path).size() - ("tick " + std::to_string(stopped - 1) + "\n").size());
    aTime_MSSleep(5);
    EXPECT_EQ(gCalls.load(), stopped);

    // It can be started again, and Destroy stops a running logger.
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    sWaitForCalls(stopped + 1);
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
    EXPECT_EQ(logger, nullptr);
    const int destroyed = gCalls.load();
    aTime_MSSleep(5);
    EXPECT_EQ(gCalls.load(), destroyed);
    EXPECT_EQ(aLogger_Destroy(&logger), aErrNone);
}

TEST(aLogger, AppendsToAnExistingFile) {
    ScratchDir dir;
    const std::string path = dir / "packets.log";
    aUnixFile* seed = aFile_Open(path.c_str(), aFileModeWrite);
    aFile_Printf(seed, "old\n");
    aFile_Close(&seed);
    gCalls = 0;
    aLogger* logger = aLogger_Create(1, sWriteTick, path.c_str());
    ASSERT_EQ(aLogger_Enable(logger), aErrNone);
    sWaitForCalls(1);
    ASSERT_EQ(aLogger_Destroy(&logger), aErrNone);
    EXPECT_EQ(sContent(path).rfind("old\ntick 0\n", 0), 0u);
}

TEST(aLogger, RefusesWhatCannotRun) {
    ScratchDir dir;
    EXPECT_EQ(aLogger_Create(1, sWriteTick, (dir / "no/such/dir/log").c_str()), nullptr);
    EXPECT_EQ(aLogger_Create(1, nullptr, (dir / "log").c_str()), nullptr);
    EXPECT_EQ(aLogger_Enable(nullptr), aErrParam);
    EXPECT_EQ(aLogger_Disable(nullptr), aErrParam);
}

namespace {

aLogger* gSelf = nullptr;
std::atomic<aErr> gSelfDisable{aErrUnknown};
std::atomic<aErr> gSelfDestroy{aErrUnknown};

void sStopMyself(aUnixFile*, uint32_t) {
    if (gCalls.fetch_add(1) == 0) {
        gSelfDisable = aLogger_Disable(gSelf);
        aLogger* self = gSelf;
        gSelfDestroy = aLogger_Destroy(&self);
    }
    aTime_MSSleep(1);
}

}  // namespace

TEST(aLogger, CallsFromTheLoggerThreadLeaveItRunning) {
    ScratchDir dir;
    gCalls = 0;
    gSelf = aLogger_Create(7, sStopMyself, (dir / "log").c_str());
    ASSERT_NE(gSelf, nullptr);
    ASSERT_EQ(aLogger_Enable(gSelf), aErrNone);
    sWaitForCalls(3);  // still looping after its own Disable
    EXPECT_EQ(gSelfDisable.load(), aErrNone);
    EXPECT_EQ(gSelfDestroy.load(), aErrBusy);
    EXPECT_EQ(aLogger_Destroy(&gSelf), aErrNone);
    EXPECT_EQ(gSelf, nullptr);
}
