#include "KeyValueStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <map>
#include <sys/resource.h>
#include <unistd.h>

#include "StoreTestFiles.h"

namespace {

using Entries = std::map<std::string, std::string>;

class KeyValueStoreTest : public ::testing::Test {
 protected:
  std::string Settings(const std::string& content) {
    std::string path = dir_ / ".settings";
    WriteText(path, content);
    return path;
  }

  ScratchDirectory dir_{"settings"};
};

TEST_F(KeyValueStoreTest, ParsesLinesByTheFileRules) {
  const std::string longLine = "X=" + std::string(10000, 'y') + "\n";
  const std::string nulLong = std::string("\0", 1) + std::string(5000, '=') + "\n";
  struct Case {
    const char* name;
    std::string content;
    Entries expected;
  };
  const Case cases[] = {
      {"spaces around key and value", "  NAME =  some value  \n", {{"NAME", "some value"}}},
      {"comment", "#A=1\n", {}},
      {"number sign after white space is a key", " #A=1\n", {{"#A", "1"}}},
      {"later equals signs belong to the value", "A=b=c\n", {{"A", "b=c"}}},
      {"empty value with line feed", "A=\n", {{"A", ""}}},
      {"empty value without line feed is too short", "A=", {}},
      {"last line without line feed", "B=2\nA=1", {{"A", "1"}, {"B", "2"}}},
      {"empty key", "=v\n", {{"", "v"}}},
      {"carriage return and tabs", "A\t=\t1 \r\n", {{"A", "1"}}},
      {"no equals sign", "abc\n   \nB=2\n", {{"B", "2"}}},
      {"key seen again", "A=1\nA=2\n", {{"A", "2"}}},
      {"NUL byte ends the line", std::string("A=1\0B=2\nC=3\n", 12), {{"A", "1"}, {"C", "3"}}},
      {"only NUL bytes", std::string(40, '\0'), {}},
      {"long line ends loading", "A=1\n" + longLine + "B=2\n", {{"A", "1"}}},
      {"long line behind a NUL ends loading", "A=1\n" + nulLong + "B=2\n", {{"A", "1"}}},
      {"line exactly filling the buffer", "A=" + std::string(2044, 'v') + "\nB=2\n",
       {{"A", std::string(2044, 'v')}, {"B", "2"}}},
  };
  for (const Case& c : cases) {
    KeyValueStore store(Settings(c.content).c_str());
    EXPECT_EQ(store.Entries(), c.expected) << c.name;
    EXPECT_FALSE(store.IsChanged()) << c.name;
  }
}

TEST_F(KeyValueStoreTest, MissingFileIsCreatedWithBothTimes) {
  std::string path = dir_ / "new.settings";
  TraceCapture trace(DEBUG_Attributes);
  KeyValueStore store(path.c_str());
  EXPECT_TRUE(trace.has("Attibutes: Error - cannot open attributes file: '" + path + "' (2)\n"));
  EXPECT_FALSE(store.IsChanged());
  EXPECT_EQ(store.FileName(), path);
  std::string text = ReadText(path);
  std::string created = store.GetString(KeyValueStore::KEY_CREATED_TIME);
  // ctime form without its line feed, for example "Thu Jan 19 14:30:00 2023".
  EXPECT_EQ(created.size(), 24u) << created;
  EXPECT_EQ(text, "CREATED_TIME=" + created + "\nUPDATED_TIME=" +
                      store.GetString(KeyValueStore::KEY_UPDATED_TIME) + "\n");
}

TEST_F(KeyValueStoreTest, UnwritableLocationKeepsEntriesInMemory) {
  std::string path = dir_ / "missing/.settings";
  TraceCapture trace(DEBUG_Attributes);
  KeyValueStore store(path.c_str());
  EXPECT_TRUE(trace.has("Attibutes: Error - cannot open attributes file for writting: '" + path + "' (2)\n"))
      << trace.text();
  EXPECT_FALSE(store.IsChanged());
  EXPECT_NE(store[KeyValueStore::KEY_CREATED_TIME], nullptr);

  store.Add("A", 1);
  store.Save();
  EXPECT_TRUE(store.IsChanged());
  EXPECT_STREQ(store["A"], "1");
}

TEST_F(KeyValueStoreTest, SaveWritesSortedLinesAndTouchesUpdatedTimeOnlyWhenChanged) {
  std::string path = Settings("K=v\n");
  KeyValueStore store(path.c_str());
  EXPECT_TRUE(store.Add("K", "v"));
  EXPECT_FALSE(store.IsChanged());
  store.Save();
  EXPECT_EQ(ReadText(path), "K=v\n");

  store.Add("B", std::string("2"));
  store.Add("A", 1);
  store.Add("C", 2.5);
  EXPECT_TRUE(store.IsChanged());
  store.Save();
  EXPECT_FALSE(store.IsChanged());
  EXPECT_EQ(ReadText(path), "A=1\nB=2\nC=2.500000\nK=v\nUPDATED_TIME=" +
                                store.GetString(KeyValueStore::KEY_UPDATED_TIME) + "\n");
  // Replaced whole: no temporary file is left beside it.
  EXPECT_EQ(EntryNames(dir_.path()), std::vector<std::string>{".settings"});
}

TEST_F(KeyValueStoreTest, TypedGettersAndTheirSideEffect) {
  KeyValueStore store(Settings("").c_str());
  store.AddHex("H", 0x1F);
  EXPECT_STREQ(store["H"], "0x0000001F");
  EXPECT_EQ(store.GetHex("H", 0), 0x1Fu);
  EXPECT_EQ(store.GetInt("H", 5), 0);
  store.AddHex("Top", 0xFFFFFFFF);
  EXPECT_EQ(store.GetHex("Top", 0), 0xFFFFFFFFu);

  store.Add("Build", "99528558.bird");
  EXPECT_EQ(store.GetInt("Build", 0), 99528558);
  store.Add("Neg", " -42x");
  EXPECT_EQ(store.GetInt("Neg", 0), -42);
  store.Add("T", "true");
  EXPECT_FALSE(store.GetBOOL("T", true));
  store.Add("One", 1);
  EXPECT_TRUE(store.GetBOOL("One", false));
  store.Add("D", "2.75abc");
  EXPECT_DOUBLE_EQ(store.GetDouble("D", 0), 2.75);
  store.Add("Empty", "");
  EXPECT_EQ(store.GetInt("Empty", 9), 9);
  EXPECT_EQ(store.GetString("Empty", "dflt"), "");

  EXPECT_EQ(store.GetString("Nothing", "dflt"), "dflt");
  EXPECT_EQ(store.GetString("Nothing"), "");
  EXPECT_EQ(store["Nothing"], nullptr);
  store.Save();
  EXPECT_EQ(ReadText(store.FileName()).find("Nothing"), std::string::npos);

  EXPECT_EQ(store.GetInt("Missing", 7), 7);
  EXPECT_EQ(store.GetHex("MissingHex", 3), 3u);
  EXPECT_TRUE(store.GetBOOL("MissingBool", true));
  EXPECT_DOUBLE_EQ(store.GetDouble("MissingDouble", 1.5), 1.5);
  store.Save();
  std::string text = ReadText(store.FileName());
  for (const char* line : {"\nMissing=\n", "\nMissingHex=\n", "\nMissingBool=\n", "\nMissingDouble=\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line;
}

TEST_F(KeyValueStoreTest, MergeAndClearMarkTheStoreChanged) {
  KeyValueStore a(Settings("X=1\n").c_str());
  KeyValueStore empty;
  EXPECT_TRUE(a.Add(empty));
  EXPECT_FALSE(a.IsChanged());

  KeyValueStore b;
  b.Add("X", 2);
  b.Add("Y", "y");
  EXPECT_TRUE(a.Add(b));
  EXPECT_TRUE(a.IsChanged());
  EXPECT_EQ(a.Entries(), (Entries{{"X", "2"}, {"Y", "y"}}));

  KeyValueStore copy = a;
  EXPECT_EQ(copy.FileName(), a.FileName());
  EXPECT_TRUE(copy.IsChanged());
  EXPECT_TRUE(copy.Clear());
  EXPECT_TRUE(copy.Entries().empty());
  EXPECT_EQ(a.Entries().size(), 2u);
}

TEST_F(KeyValueStoreTest, SaveWithoutAnyNameUsesTheDefaultInTheCurrentDirectory) {
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  TraceCapture trace(DEBUG_Attributes);
  KeyValueStore store;
  store.Add("A", "1");
  store.Save();
  EXPECT_EQ(chdir(previous), 0);
  EXPECT_TRUE(trace.has("Attibutes: no filename given for attributes, using default:[.settings]\n"));
  EXPECT_EQ(store.FileName(), ".settings");
  EXPECT_EQ(ReadText(dir_ / ".settings").substr(0, 4), "A=1\n");
}

// A full disk is simulated with a file-size limit: the old settings must survive whole.
TEST_F(KeyValueStoreTest, FailedSaveLeavesTheOldFileIntact) {
  std::string path = Settings("A=old\n");
  KeyValueStore store(path.c_str());
  store.Add("A", std::string(4096, 'n'));

  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limit = saved;
  limit.rlim_cur = 100;
  auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  TraceCapture trace(DEBUG_Attributes);
  store.Save();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previousHandler);

  EXPECT_TRUE(trace.has("Attibutes: Error - cannot write attributes file: '" + path + "'")) << trace.text();
  EXPECT_TRUE(store.IsChanged());
  EXPECT_EQ(ReadText(path), "A=old\n");
  EXPECT_EQ(EntryNames(dir_.path()), std::vector<std::string>{".settings"});
}

}  // namespace
