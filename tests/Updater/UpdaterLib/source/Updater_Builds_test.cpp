#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BirdWriter.h"
#include "FakeUpdateServer.h"
#include "Updater.h"
#include "UpdaterDisplayInterface.h"

namespace {

namespace fs = std::filesystem;
using Answer = FakeUpdateServer::Answer;
using Events = std::vector<std::string>;

constexpr uint32_t kSerial = 0x40F5849A;
constexpr uint32_t kBuild = 99528558;

// Everything the core shows, in order, with spinner turns as "spin"/"clear" events.
class RecordingDisplay : public UpdaterDisplayInterface {
 public:
  void display_progress(bool) override {}
  void update_progress(double, const char*) override {}
  void update_spinner(bool active, const char* label) override {
    events.push_back(std::string(active ? "spin " : "clear ") + (label ? label : ""));
  }
  void info_message(const char* text) override { events.push_back(std::string("INFO ") + text); }
  void error_message(const char* text) override { events.push_back(std::string("ERROR ") + text); }
  Events events;
};

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<uint8_t> BirdBytes(uint32_t build) {
  birdwriter::FirmwareOptions options;
  options.serial = kSerial;
  options.build = build;
  return birdwriter::Encode(birdwriter::FirmwareBlocks(options));
}

// Spinner turns collapse into one "spin..." so sequences don't depend on download time.
Events Collapsed(const Events& events) {
  Events collapsed;
  for (const std::string& event : events) {
    if (event == "spin Downloading") {
      if (collapsed.empty() || collapsed.back() != "spin...") collapsed.push_back("spin...");
    } else {
      collapsed.push_back(event);
    }
  }
  return collapsed;
}

class DownloadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/updater-builds-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    server.answer_current_build(kBuild, "FW1");
    server.answer_builds({{"1001", "1.0.0"}, {std::to_string(kBuild), "2.1.0"}});
    server.answer_bird(BirdBytes(kBuild));
  }
  void TearDown() override { fs::remove_all(root); }

  std::string store() const { return (root / "store").string(); }
  fs::path device() const { return root / "store" / "40F5849A"; }

  fs::path root;
  FakeUpdateServer server;
  RecordingDisplay display;
};

TEST_F(DownloadTest, StoresTheCurrentBuildAndRecordsIt) {
  std::vector<uint8_t> file = BirdBytes(kBuild);
  Answer held = FakeUpdateServer::BirdAnswer(file);
  held.delay_ms = 300;  // long enough for the spinner to turn more than once
  server.set_answer("bird", held);
  Updater updater(server.url(), store(), display);
  EXPECT_EQ(updater.Download_Firmware(kSerial, "", false, false), kBuild);

  Events expected = {
      "INFO Retrieving build 99528558",
      "INFO Validating build 99528558 with server",
      "INFO Build 99528558 is valid",
      "spin...",
      "clear Downloading",
  };
  EXPECT_EQ(Collapsed(display.events), expected);
  EXPECT_GE(std::count(display.events.begin(), display.events.end(), "spin Downloading"), 2);
  EXPECT_EQ(ReadText(device() / "99528558.bird"), std::string(file.begin(), file.end()));
  std::string settings = ReadText(device() / ".settings");
  EXPECT_NE(settings.find("LATEST_DOWNLOAD=99528558.bird\n"), std::string::npos) << settings;
  EXPECT_NE(settings.find("LAST_DOWNLOAD_DATE="), std::string::npos) << settings;
  for (const auto& entry : fs::directory_iterator(device()))
    EXPECT_TRUE(entry.path().filename() == "99528558.bird" ||
                entry.path().filename() == ".settings")
        << "left behind: " << entry.path();

  std::vector<std::string> requests = {
      "/cgi/u?op=hi&rv=2&",
      "/cgi/u?op=qu&sn=40F5849A&",
      "/cgi/u?op=builds&sn=40F5849A&",
      "/cgi/u?bld=99528558&fw=FW1&no_cal=false&op=bird&sn=40F5849A&",
  };
  EXPECT_EQ(server.requests(), requests);
}

TEST_F(DownloadTest, RefusesBadArgumentsBeforeAskingTheServer) {
  const struct {
    uint32_t serial;
    const char* build;
    const char* message;
  } cases[] = {
      {kSerial, "abc", "ERROR Build number 'abc' must be an number"},
      {kSerial, "-5", "ERROR Build number '-5' must be an number"},
      {kSerial, "4294967296", "ERROR Build number '4294967296' must be an number"},
      {0, "", "ERROR Serial Number must be non-zero"},
      {0, "12", "ERROR Serial Number must be non-zero"},
  };
  Updater updater(server.url(), store(), display);
  for (const auto& c : cases) {
    display.events.clear();
    EXPECT_EQ(updater.Download_Firmware(c.serial, c.build, false, false), 0u);
    EXPECT_EQ(display.events, Events{c.message});
  }
  EXPECT_TRUE(server.requests().empty());
  EXPECT_FALSE(fs::exists(store()));
}

TEST_F(DownloadTest, AFailedTransferIsReportedTwiceAndStoresNothing) {
  Answer cut = FakeUpdateServer::BirdAnswer(BirdBytes(kBuild));
  cut.close_mid_body = true;
  server.set_answer("bird", cut);
  Updater updater(server.url(), store(), display);
  EXPECT_EQ(updater.Download_Firmware(kSerial, std::to_string(kBuild), false, false), 0u);

  Events expected = {
      "INFO Retrieving build 99528558",
      "INFO Validating build 99528558 with server",
      "INFO Build 99528558 is valid",
      "spin...",
      "clear Downloading",
      "ERROR Download failed",
      "ERROR Failed to retreive a valid BIRD file",
  };
  EXPECT_EQ(Collapsed(display.events), expected);
  EXPECT_FALSE(fs::exists(device() / "99528558.bird"));
  EXPECT_EQ(ReadText(device() / ".settings").find("LATEST_DOWNLOAD"), std::string::npos);
}

TEST_F(DownloadTest, ServerRefusalsEndTheDownloadWithTheirOwnMessage) {
  const struct {
    const char* op;
    const char* message;
  } cases[] = {
      {"hi", "ERROR Server request failed for "},
      {"qu", "ERROR No build information for device"},
      {"builds", "ERROR No valid build 99528558"},
  };
  for (const auto& c : cases) {
    FakeUpdateServer refusing;
    refusing.answer_current_build(kBuild);
    refusing.set_answer(c.op, FakeUpdateServer::Lines({"no"}));
    display.events.clear();
    Updater updater(refusing.url(), store(), display);
    EXPECT_EQ(updater.Download_Firmware(kSerial, "", false, false), 0u);
    ASSERT_FALSE(display.events.empty());
    EXPECT_EQ(display.events.back().rfind(c.message, 0), 0u) << display.events.back();
    for (const std::string& request : refusing.requests())
      EXPECT_EQ(request.find("op=bird"), std::string::npos) << c.op;
  }
}

TEST_F(DownloadTest, ByFingerprintDownloadsForTheDeviceTheServerNames) {
  server.answer_recovery(kSerial, 1001);
  server.answer_bird(BirdBytes(1001));
  Fingerprint fingerprint;
  fingerprint.word[0] = 0xA1B2C3D4;
  fingerprint.word[3] = 0x1;
  Updater updater(server.url(), store(), display);
  EXPECT_EQ(updater.Download_Firmware(fingerprint, "", false), 1001u);
  EXPECT_TRUE(fs::exists(device() / "1001.bird"));
  std::vector<std::string> requests = server.requests();
  ASSERT_EQ(requests.size(), 5u);
  EXPECT_EQ(requests[0], "/cgi/u?brief=true&fp=A1B2C3D4%2000000000%2000000000%2000000001&op=fix&");
  EXPECT_EQ(requests[4], "/cgi/u?bld=1001&fw=FW1&no_cal=false&op=bird&sn=40F5849A&");

  // A named build wins over the server's.
  EXPECT_EQ(updater.Download_Firmware(fingerprint, std::to_string(kBuild), true),
            0u + kBuild);

  server.set_answer("fix", FakeUpdateServer::Lines({"nope"}));
  display.events.clear();
  EXPECT_EQ(updater.Download_Firmware(fingerprint, "", false), 0u);
  EXPECT_EQ(display.events,
            Events{"ERROR Failed to retreive recovery information from Halvik update server"});
}

TEST_F(DownloadTest, BuildListComesFromTheServerOrIsEmptyWithAReason) {
  Updater updater(server.url(), store(), display);
  std::map<std::string, std::string> builds = {{"1001", "1.0.0"}, {"99528558", "2.1.0"}};
  EXPECT_EQ(updater.Get_BuildList(kSerial), builds);
  EXPECT_TRUE(display.events.empty());

  server.set_answer("builds", FakeUpdateServer::Lines({"denied"}));
  EXPECT_TRUE(updater.Get_BuildList(kSerial).empty());
  EXPECT_EQ(display.events, Events{"ERROR Failed to retrieve builds for 40F5849A"});

  display.events.clear();
  server.set_answer("hi", FakeUpdateServer::Lines({"down"}));
  EXPECT_TRUE(updater.Get_BuildList(kSerial).empty());
  EXPECT_EQ(display.events, Events{"ERROR Server request failed for " + server.url()});
  EXPECT_FALSE(fs::exists(store())) << "listing builds touches no store";
}

}  // namespace
