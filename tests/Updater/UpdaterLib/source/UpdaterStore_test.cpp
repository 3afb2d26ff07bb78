#include "UpdaterStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <functional>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "BirdWriter.h"
#include "StoreTestFiles.h"

namespace {

class UpdaterStoreTest : public ::testing::Test {
 protected:
  std::string ExpectThrow(const std::function<void()>& action) {
    try {
      action();
    } catch (const std::runtime_error& e) {
      return e.what();
    }
    ADD_FAILURE() << "no exception";
    return "";
  }

  ScratchDirectory dir_;
};

bool IsDirectory(const std::string& path) {
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

TEST_F(UpdaterStoreTest, BaseDirectoryIsCreatedWithItsParentsOrRefused) {
  std::string base = dir_ / "home/.halvik/updater";
  {
    TraceCapture trace(DEBUG_Updater);
    UpdaterStore store(base);
    EXPECT_EQ(store.BasePath(), base);
    EXPECT_TRUE(trace.has("UpdaterStore: Created directory [" + base + "].\n"));
  }
  EXPECT_TRUE(IsDirectory(base));
  {
    TraceCapture trace(DEBUG_Updater);
    UpdaterStore again(base);
    EXPECT_TRUE(trace.has("UpdaterStore: [" + base + "] already exists.\n"));
  }

  std::string file = dir_ / "plain";
  WriteText(file, "x");
  EXPECT_EQ(ExpectThrow([&] { UpdaterStore store(file); }), "UpdaterStore: " + file + " exists and is a file");
  std::string below = file + "/updater";
  EXPECT_EQ(ExpectThrow([&] { UpdaterStore store(below); }),
            "UpdaterStore: Could not create directory " + below + " error 12");
}

TEST_F(UpdaterStoreTest, AddDeviceMakesAnEightDigitDirectoryWithSettings) {
  UpdaterStore store(dir_.path());
  UpdaterStoreItem item = store.AddDevice(0x00ABCDEFu);
  EXPECT_EQ(item.Base(), dir_.path());
  EXPECT_EQ(item.Name(), "00ABCDEF");
  EXPECT_EQ(item.Kind(), STORE_ITEM_DIRECTORY);
  EXPECT_TRUE(item.IsValid());
  std::string settings = ReadText(dir_ / "00ABCDEF/.settings");
  EXPECT_EQ(settings.rfind("CREATED_TIME=", 0), 0u) << settings;
  EXPECT_NE(settings.find("\nUPDATED_TIME="), std::string::npos) << settings;

  // Known already: the settings are loaded, not replaced.
  item.Settings().Add("LATEST_DOWNLOAD", "99528558.bird");
  item.Settings().Save();
  UpdaterStoreItem again = store.AddDevice("00ABCDEF");
  EXPECT_EQ(again.Settings().GetInt("LATEST_DOWNLOAD", 0), 99528558);

  WriteText(dir_ / "40F5849A", "not a directory");
  std::string what = ExpectThrow([&] { store.AddDevice(0x40F5849Au); });
  EXPECT_EQ(what, "UpdaterStore: " + (dir_ / "40F5849A") + " exists and is a file");
}

TEST_F(UpdaterStoreTest, FindDeviceMatchesTheEntryNameAndFillsTheItem) {
  UpdaterStore store(dir_.path());
  store.AddDevice(0x12345678u);
  ASSERT_EQ(mkdir((dir_ / "old-40F5849A-copy").c_str(), 0755), 0);
  WriteText(dir_ / "old-40F5849A-copy/.settings", "NOTE=kept\n");

  TraceCapture trace(DEBUG_Updater);
  UpdaterStoreItem item;
  EXPECT_FALSE(item.IsValid());
  EXPECT_TRUE(store.FindDevice(0x40F5849Au, &item));
  EXPECT_TRUE(trace.has("UpdaterStore: FindDevice Found 40F5849A.\n"));
  EXPECT_TRUE(trace.has("_find_item([" + (dir_ / "old-40F5849A-copy") + "], 1, "));
  EXPECT_EQ(item.Base(), dir_.path());
  EXPECT_EQ(item.Name(), "old-40F5849A-copy");
  EXPECT_EQ(item.Kind(), STORE_ITEM_DIRECTORY);
  EXPECT_EQ(item.Settings().GetString("NOTE"), "kept");

  EXPECT_TRUE(store.FindDevice("12345678", nullptr));
  EXPECT_FALSE(store.FindDevice(0x00000001u, &item));
  EXPECT_TRUE(trace.has("UpdaterStore: FindDevice Not Found 00000001.\n"));
  EXPECT_EQ(item.Name(), "old-40F5849A-copy");
}

// A base path that contains the serial text must not make "." or ".." match.
TEST_F(UpdaterStoreTest, SerialInTheBasePathDoesNotMatch) {
  std::string base = dir_ / "store-40F5849A";
  UpdaterStore store(base);
  UpdaterStoreItem item;
  EXPECT_FALSE(store.FindDevice(0x40F5849Au, &item));
  EXPECT_FALSE(item.IsValid());

  UpdaterStoreItem device = store.AddDevice(0x11111111u);
  EXPECT_FALSE(device.FileExists("40F5849A"));
  std::vector<UpdaterStoreItem> items;
  EXPECT_TRUE(store.FindLocalBuilds(0x40F5849Au, items));
  EXPECT_TRUE(items.empty());
}

TEST_F(UpdaterStoreTest, LocalBuildsListEveryVisibleEntry) {
  UpdaterStore store(dir_.path());
  UpdaterStoreItem device = store.AddDevice(0x40F5849Au);
  WriteText(dir_ / "40F5849A/99528558.bird", "bird");
  WriteText(dir_ / "40F5849A/.hidden", "x");
  ASSERT_EQ(mkdir((dir_ / "40F5849A/x").c_str(), 0755), 0);

  std::vector<UpdaterStoreItem> items;
  EXPECT_TRUE(store.FindLocalBuilds(0x40F5849Au, items));
  std::sort(items.begin(), items.end(),
            [](const UpdaterStoreItem& a, const UpdaterStoreItem& b) { return a.Name() < b.Name(); });
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].Name(), "99528558.bird");
  EXPECT_EQ(items[0].Kind(), STORE_ITEM_FILE);
  EXPECT_EQ(items[0].Base(), dir_ / "40F5849A");
  EXPECT_EQ(items[1].Name(), "x");
  EXPECT_EQ(items[1].Kind(), STORE_ITEM_DIRECTORY);
  // A plain file has no settings beside it, so its times stay in memory only.
  EXPECT_NE(items[0].Settings()[KeyValueStore::KEY_CREATED_TIME], nullptr);

  EXPECT_TRUE(device.FileExists("99528558.bird"));
  EXPECT_TRUE(device.FileExists("9952"));
  EXPECT_FALSE(device.FileExists("12345.bird"));

  std::vector<UpdaterStoreItem> none;
  EXPECT_TRUE(store.FindLocalBuilds(0x22222222u, none));
  EXPECT_TRUE(none.empty());
}

TEST_F(UpdaterStoreTest, WriteFileReplacesTheWholeFile) {
  UpdaterStore store(dir_.path());
  UpdaterStoreItem device = store.AddDevice(0x40F5849Au);
  std::string path = dir_ / "40F5849A/7.bird";

  EXPECT_EQ(device.WriteFile("7.bird", nullptr, 4), aErrNotFound);
  EXPECT_NE(access(path.c_str(), F_OK), 0);

  EXPECT_EQ(device.WriteFile("7.bird", "first content", 13), aErrNone);
  EXPECT_EQ(device.WriteFile("7.bird", "second", 6), aErrNone);
  EXPECT_EQ(ReadText(path), "second");
  EXPECT_EQ(device.WriteFile("empty.bird", "", 0), aErrNone);
  EXPECT_EQ(ReadText(dir_ / "40F5849A/empty.bird"), "");

  UpdaterStoreItem gone(dir_ / "nowhere", "40F5849A", STORE_ITEM_DIRECTORY);
  EXPECT_EQ(gone.WriteFile("7.bird", "x", 1), aErrNotFound);

  // A full disk, simulated by a file-size limit, leaves the old file as it was.
  std::string big(4096, 'b');
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  struct rlimit limit = saved;
  limit.rlim_cur = 100;
  auto previousHandler = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
  aErr result = device.WriteFile("7.bird", big.data(), big.size());
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(result, aErrIO);
  EXPECT_EQ(ReadText(path), "second");
  std::vector<std::string> names = EntryNames(dir_ / "40F5849A");
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{".settings", "7.bird", "empty.bird"}));
}

TEST_F(UpdaterStoreTest, ReadBirdFileChecksTheHeaderThenLoads) {
  UpdaterStore store(dir_.path());
  UpdaterStoreItem device = store.AddDevice(0x40F5849Au);
  std::string folder = dir_ / "40F5849A";

  EXPECT_EQ(ExpectThrow([&] { device.ReadBirdFile("1.bird"); }), "Invalid bird " + folder + "/1.bird");
  WriteText(folder + "/2.bird", std::string("bird\x01\x00 rest", 10));
  EXPECT_EQ(ExpectThrow([&] { device.ReadBirdFile("2.bird"); }), "Invalid bird " + folder + "/2.bird");
  WriteText(folder + "/3.bird", "bird\x01\x01 not a zlib stream");
  EXPECT_EQ(ExpectThrow([&] { device.ReadBirdFile("3.bird"); }), "Failed to load bird data");

  birdwriter::FirmwareOptions o;
  o.build = 99528558;
  std::vector<uint8_t> bytes = birdwriter::Encode(birdwriter::FirmwareBlocks(o));
  ASSERT_EQ(device.WriteFile("99528558.bird", bytes.data(), bytes.size()), aErrNone);
  BirdFile loaded = device.ReadBirdFile("99528558.bird");
  EXPECT_EQ(loaded.GetBuild(), 99528558u);
  EXPECT_EQ(loaded.GetFilename(), folder + "/99528558.bird");
}

}  // namespace
