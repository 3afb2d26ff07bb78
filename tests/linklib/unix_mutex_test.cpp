#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "unix_mutex.h"

TEST(aMutex, NamesAndLimits) {
    aMutex* named = aMutex_Create("link table");
    ASSERT_NE(named, nullptr);
    EXPECT_STREQ(aMutex_Identifier(named), "link table");
    aMutex* anonymous = aMutex_Create(nullptr);
    ASSERT_NE(anonymous, nullptr);
    EXPECT_STREQ(aMutex_Identifier(anonymous), "");
    const std::string longest(255, 'n');
    aMutex* full = aMutex_Create(longest.c_str());
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(aMutex_Identifier(full), longest);
    EXPECT_EQ(aMutex_Create(std::string(256, 'n').c_str()), nullptr);
    aMutex_Destroy(&named);
    aMutex_Destroy(&anonymous);
    aMutex_Destroy(&full);
}

#if defined(__SANITIZE_THREAD__)
#define sUNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define sUNDER_TSAN 1
#endif
#endif

TEST(aMutex, UnlockByANonHolderIsRefused) {
#ifdef sUNDER_TSAN
    GTEST_SKIP() << "the thread sanitizer aborts on the deliberate foreign unlock";
#endif
    aMutex* mutex = aMutex_Create("m");
    EXPECT_EQ(aMutex_Unlock(mutex), aErrPermission);
    ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
    std::thread other([mutex] { EXPECT_EQ(aMutex_Unlock(mutex), aErrPermission); });
    other.join();
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
    aMutex_Destroy(&mutex);
}

TEST(aMutex, OwnershipErrors) {
    aMutex* mutex = aMutex_Create("m");
    ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Lock(mutex), aErrDuplicate);
    std::thread other([mutex] { EXPECT_EQ(aMutex_TryLock(mutex), aErrBusy); });
    other.join();
    // A held mutex stays alive so that its holder can still release it.
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrBusy);
    ASSERT_NE(mutex, nullptr);
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
    EXPECT_EQ(aMutex_TryLock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Unlock(mutex), aErrNone);
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrNone);
    EXPECT_EQ(mutex, nullptr);
    EXPECT_EQ(aMutex_Destroy(&mutex), aErrParam);
    EXPECT_EQ(aMutex_Lock(nullptr), aErrParam);
}

TEST(aMutex, ExcludesAcrossThreads) {
    aMutex* mutex = aMutex_Create("counter");
    long counter = 0;  // guarded only by the mutex: a race shows under TSan and in the sum
    auto work = [&] {
        for (int i = 0; i < 20000; i++) {
            ASSERT_EQ(aMutex_Lock(mutex), aErrNone);
            counter++;
            ASSERT_EQ(aMutex_Unlock(mutex), aErrNone);
        }
    };
    std::thread a(work), b(work), c(work);
    a.join();
    b.join();
    c.join();
    EXPECT_EQ(counter, 60000);
    aMutex_Destroy(&mutex);
}
