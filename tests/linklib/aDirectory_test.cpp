#include <gtest/gtest.h>

#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>

#include "ScratchDir.h"
#include "aDirectory.h"
#include "unix_file.h"

namespace {

void touch(const std::string& path, const std::string& content = "") {
    aUnixFile* file = aFile_Open(path.c_str(), aFileModeWrite);
    ASSERT_NE(file, nullptr) << path;
    aFile_Write(file, content.data(), content.size(), nullptr);
    aFile_Close(&file);
}

}  // namespace

TEST(aDirectory, BuildPathJoinsWithOneSeparator) {
    struct {
        const char* a;
        const char* b;
        const char* joined;
    } const cases[] = {
        {"a/", "b", "a/b"}, {"a", "/b", "a/b"}, {"a", "b", "a/b"},
        {"/", "x", "/x"},   {"a/", "/b", "a//b"}, {"", "b", "b"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " + " + c.b);
        char path[64];
        EXPECT_EQ(aDirectory_JoinPath(path, sizeof(path), c.a, c.b), aErrNone);
        EXPECT_STREQ(path, c.joined);
    }
}

TEST(aDirectory, BuildPathTakesAtMostTenComponents) {
    char path[128];
    EXPECT_EQ(aDirectory_BuildPath(path, sizeof(path), "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
                                   nullptr),
              aErrNone);
    EXPECT_STREQ(path, "1/2/3/4/5/6/7/8/9/10");
    EXPECT_EQ(aDirectory_BuildPath(path, sizeof(path), "1", "2", "3", "4", "5", "6", "7", "8", "9", "10",
                                   "11", nullptr),
              aErrParam);
    EXPECT_STREQ(path, "");
}

TEST(aDirectory, BuildPathRefusesAliasesAndOverruns) {
    char path[8] = "abc";
    EXPECT_EQ(aDirectory_JoinPath(nullptr, 8, "a", "b"), aErrParam);
    EXPECT_EQ(aDirectory_JoinPath(path, sizeof(path), path, "b"), aErrParam);
    strcpy(path, "abc");
    EXPECT_EQ(aDirectory_JoinPath(path, sizeof(path), "a", path), aErrParam);

    // "first" must leave room for more than its terminator.
    EXPECT_EQ(aDirectory_JoinPath(path, sizeof(path), "abcdefg", "b"), aErrOverrun);
    EXPECT_EQ(aDirectory_JoinPath(path, sizeof(path), "abcdef", nullptr), aErrNone);
    EXPECT_STREQ(path, "abcdef");
    EXPECT_EQ(aDirectory_JoinPath(path, sizeof(path), "abc", "def"), aErrOverrun);
    EXPECT_STREQ(path, "abc/");
    EXPECT_EQ(aDirectory_JoinPath(path, sizeof(path), "abc", "de"), aErrNone);
    EXPECT_STREQ(path, "abc/de");
}

TEST(aDirectory, EnsureCreatesEveryMissingLevel) {
    ScratchDir dir;
    const std::string deep = dir / "one//two/three";
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
    EXPECT_TRUE(aDirectory_Exists((dir / "one/two/three").c_str()));
    struct stat status;
    ASSERT_EQ(stat((dir / "one").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0755 & ~[] { mode_t m = umask(0); umask(m); return m; }());
    EXPECT_EQ(aDirectory_Ensure(deep.c_str(), 0755), aErrNone);
    EXPECT_EQ(aDirectory_Ensure((dir / "one/two/three/").c_str(), 0755), aErrNone);
}

TEST(aDirectory, EnsureFailsWhenAFileIsInTheWay) {
    ScratchDir dir;
    touch(dir / "file");
    EXPECT_EQ(aDirectory_Ensure((dir / "file/sub").c_str(), 0755), aErrPermission);
    EXPECT_EQ(aDirectory_Ensure((dir / "file").c_str(), 0755), aErrPermission);
    EXPECT_FALSE(aDirectory_Exists((dir / "file").c_str()));
}

TEST(aDirectory, ListReportsEveryEntry) {
    ScratchDir dir;
    touch(dir / "file", "12345");
    ASSERT_EQ(aDirectory_Ensure((dir / "sub").c_str(), 0755), aErrNone);
    touch(dir / "huge");
    ASSERT_EQ(truncate((dir / "huge").c_str(), 3LL << 30), 0);  // sparse, beyond 32 bits signed
    std::map<std::string, std::pair<int32_t, uint32_t>> seen;
    auto collect = [](const aDirectoryListData* data, void* ref) {
        auto* entries = static_cast<std::map<std::string, std::pair<int32_t, uint32_t>>*>(ref);
        (*entries)[data->path] = {data->size, data->isDirectory};
        return true;
    };
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), collect, &seen), aErrNone);
    EXPECT_EQ(seen.size(), 5u);  // ".", "..", file, huge, sub
    EXPECT_EQ(seen[dir / "file"], std::make_pair(int32_t{5}, 0u));
    EXPECT_EQ(seen[dir / "huge"].first, INT32_MAX);
    EXPECT_EQ(seen[dir / "sub"].second, 1u);
    EXPECT_EQ(seen.count(dir / "."), 1u);
    EXPECT_EQ(seen.count(dir / ".."), 1u);

    int calls = 0;
    auto stopAtFirst = [](const aDirectoryListData*, void* ref) {
        ++*static_cast<int*>(ref);
        return false;
    };
    EXPECT_EQ(aDirectory_List(dir.path().c_str(), stopAtFirst, &calls), aErrNone);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(aDirectory_List((dir / "missing").c_str(), stopAtFirst, &calls), aErrNotFound);
}

TEST(aDirectory, DeleteAndDeleteTree) {
    ScratchDir dir;
    ASSERT_EQ(aDirectory_Ensure((dir / "tree/a/b").c_str(), 0755), aErrNone);
    touch(dir / "tree/a/b/leaf");
    touch(dir / "tree/top");
    ASSERT_EQ(aDirectory_Ensure((dir / "outside").c_str(), 0755), aErrNone);
    touch(dir / "outside/keep");
    ASSERT_EQ(symlink((dir / "outside").c_str(), (dir / "tree/link").c_str()), 0);

    EXPECT_EQ(aDirectory_Delete((dir / "tree").c_str()), aErrUnknown);  // not empty
    EXPECT_EQ(aDirectory_DeleteTree((dir / "tree").c_str()), aErrNone);
    EXPECT_FALSE(aDirectory_Exists((dir / "tree").c_str()));
    // The link went, not what it pointed at.
    EXPECT_TRUE(aFile_Exists((dir / "outside/keep").c_str()));
    EXPECT_EQ(aDirectory_DeleteTree((dir / "tree").c_str()), aErrNotFound);

    ASSERT_EQ(aDirectory_Ensure((dir / "empty").c_str(), 0755), aErrNone);
    EXPECT_EQ(aDirectory_Delete((dir / "empty").c_str()), aErrNone);
    EXPECT_FALSE(aDirectory_Exists((dir / "empty").c_str()));
}

TEST(aDirectory, WorkingDirectoryAndExecutable) {
    char buffer[PATH_MAX];
    char expected[PATH_MAX];
    ASSERT_NE(getcwd(expected, sizeof(expected)), nullptr);
    EXPECT_EQ(aDirectory_CWD(buffer, sizeof(buffer)), aErrNone);
    EXPECT_STREQ(buffer, expected);
    EXPECT_EQ(aDirectory_CWD(buffer, 1), aErrParam);

    EXPECT_EQ(aDirectory_ExecutableFilePath(buffer, sizeof(buffer)), aErrNone);
    char* resolved = realpath("/proc/self/exe", nullptr);
    ASSERT_NE(resolved, nullptr);
    EXPECT_STREQ(buffer, resolved);
    free(resolved);
    char small[5];
    EXPECT_EQ(aDirectory_ExecutableFilePath(small, sizeof(small)), aErrNone);
    EXPECT_EQ(strlen(small), 4u);
    EXPECT_EQ(strncmp(small, buffer, 4), 0);
}

TEST(aDirectory, HomeComesFromTheUserDatabaseBeforeHOME) {
    const struct passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    const std::string databaseHome = user->pw_dir;
    const char* savedHome = getenv("HOME");
    const std::string saved = savedHome ? savedHome : "";
    setenv("HOME", "/somewhere/else", 1);
    char buffer[256];
    EXPECT_EQ(aDirectory_GetHomeDirectory(buffer, sizeof(buffer)), aErrNone);
    EXPECT_EQ(std::string(buffer), databaseHome);
    char tiny[3];
    EXPECT_EQ(aDirectory_GetHomeDirectory(tiny, sizeof(tiny)), aErrNone);
    EXPECT_EQ(std::string(tiny), databaseHome.substr(0, 2));
    if (savedHome) setenv("HOME", saved.c_str(), 1); else unsetenv("HOME");
}

// Runs body in a child under a uid that the user database does not know.
static int sAsUnknownUser(const char* home, int (*body)()) {
    const pid_t child = fork();
    if (child == 0) {
        uid_t uid = 54321;
        while (getpwuid(uid) != nullptr) uid++;
        if (setuid(uid) != 0) _exit(100);
        if (home) setenv("HOME", home, 1); else unsetenv("HOME");
        _exit(body());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 101;
}

TEST(aDirectory, HomeFallsBackToHOMEWithoutADatabaseEntry) {
    if (geteuid() != 0) {
        GTEST_SKIP() << "switching to a uid without a user entry needs root";
    }
    EXPECT_EQ(sAsUnknownUser("/scratch/home", [] {
                  char buffer[64];
                  return aDirectory_GetHomeDirectory(buffer, sizeof(buffer)) == aErrNone &&
                                 strcmp(buffer, "/scratch/home") == 0
                             ? 0
                             : 1;
              }),
              0);
    EXPECT_EQ(sAsUnknownUser(nullptr, [] {
                  char buffer[64] = "stale";
                  return aDirectory_GetHomeDirectory(buffer, sizeof(buffer)) == aErrNotFound &&
                                 buffer[0] == '\0'
                             ? 0
                             : 1;
              }),
              0);
}
