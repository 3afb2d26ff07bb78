#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "BirdWriter.h"
#include "FakeUpdateServer.h"
#include "UpdaterProcess.h"

namespace {

namespace fs = std::filesystem;
using Answer = FakeUpdateServer::Answer;

constexpr uint32_t kBuild = 99528558;
const char* const kSerialText = "40F5849A";

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<uint8_t> BirdBytes(uint32_t build, uint32_t imageSize = 4096) {
  birdwriter::FirmwareOptions options;
  options.serial = 0x40F5849A;
  options.build = build;
  options.imageSize = imageSize;
  return birdwriter::Encode(birdwriter::FirmwareBlocks(options));
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::vector<std::string> Entries(const fs::path& directory) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(directory))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class BuildsEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    updater.SetTimeoutSeconds(60);
    server.answer_current_build(kBuild, "FW1");
    server.answer_builds({{"1001", "1.0.0"}, {std::to_string(kBuild), "2.1.0"}});
    server.answer_bird(BirdBytes(kBuild));
  }

  ProcessResult Run(std::vector<std::string> arguments) {
    arguments.push_back("-u");
    arguments.push_back(server.url());
    return updater.Run(arguments);
  }
  fs::path Device() const { return fs::path(updater.UpdaterDirectory()) / kSerialText; }

  FakeUpdateServer server;
  UpdaterProcess updater;
};

TEST_F(BuildsEndToEnd, GetStoresTheLatestBuildAndRecordsIt) {
  ProcessResult r = Run({"-G", "-d", kSerialText});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(Contains(r.out,
                       "Retrieving firmware for device with serial number 40F5849A\n"
                       "No build specified\n"
                       "Using Latest build\n"
                       "Retrieving build 99528558\n"
                       "Validating build 99528558 with server\n"
                       "Build 99528558 is valid\n"))
      << r.out;
  EXPECT_FALSE(Contains(r.out, "\r")) << "no spinner when stdout is not a terminal";

  EXPECT_TRUE(ReadText(Device() / "99528558.bird") == Text(BirdBytes(kBuild)));
  std::string settings = ReadText(Device() / ".settings");
  EXPECT_TRUE(Contains(settings, "LATEST_DOWNLOAD=99528558.bird\n")) << settings;
  EXPECT_TRUE(Contains(settings, "LAST_DOWNLOAD_DATE=")) << settings;
  EXPECT_EQ(Entries(Device()), (std::vector<std::string>{".settings", "99528558.bird"}));

  std::vector<std::string> requests = {
      "/cgi/u?op=hi&rv=2&",
      "/cgi/u?op=qu&sn=40F5849A&",
      "/cgi/u?op=builds&sn=40F5849A&",
      "/cgi/u?bld=99528558&fw=FW1&no_cal=false&op=bird&sn=40F5849A&",
  };
  EXPECT_EQ(server.requests(), requests);
}

TEST_F(BuildsEndToEnd, OnATerminalTheSpinnerTurnsWhileTheDownloadRunsAndIsCleared) {
  Answer held = FakeUpdateServer::BirdAnswer(BirdBytes(kBuild));
  held.delay_ms = 500;
  server.set_answer("bird", held);
  updater.SetTerminal(true);
  ProcessResult r = Run({"-G", "-d", kSerialText});
  EXPECT_EQ(r.status, 0) << r.err;

  const std::string clear = "\r" + std::string(88, ' ') + "\r";
  size_t valid = r.out.find("Build 99528558 is valid\n");
  size_t first = r.out.find("\r (Downloading) .      \r");
  size_t second = r.out.find("\r (Downloading) ..      \r");
  size_t cleared = r.out.rfind(clear);
  ASSERT_NE(valid, std::string::npos) << r.out;
  ASSERT_NE(first, std::string::npos) << r.out;
  ASSERT_NE(second, std::string::npos) << "the spinner turned only once:\n" << r.out;
  ASSERT_NE(cleared, std::string::npos) << r.out;
  EXPECT_LT(valid, first);
  EXPECT_LT(first, second);
  EXPECT_LT(second, cleared);
  EXPECT_EQ(r.out.find("(Downloading)", cleared), std::string::npos) << "turned after clearing";
}

TEST_F(BuildsEndToEnd, GetOfABuildTheServerDoesNotListStoresNothing) {
  ProcessResult r = Run({"-G", "-d", kSerialText, "-b", "1234"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(Contains(r.out,
                       "Retrieving firmware build 1234\n"
                       "Retrieving build 1234\n"
                       "Validating build 1234 with server\n"))
      << r.out;
  EXPECT_EQ(r.err, "No valid build 1234\n");
  EXPECT_FALSE(fs::exists(Device() / "1234.bird"));
  EXPECT_FALSE(Contains(ReadText(Device() / ".settings"), "LATEST_DOWNLOAD"));
  for (const std::string& request : server.requests())
    EXPECT_FALSE(Contains(request, "op=bird")) << request;
}

TEST_F(BuildsEndToEnd, OverrideRequestsTheNamedBuildWithoutValidation) {
  server.answer_bird(BirdBytes(1234));
  ProcessResult r = Run({"-G", "-d", kSerialText, "-b", "1234", "-OVERRIDE"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out,
                       "Retrieving build 1234\n"
                       "Override specified, skipping validation of build 1234\n"))
      << r.out;
  EXPECT_FALSE(Contains(r.out, "Validating"));
  std::vector<std::string> requests = {
      "/cgi/u?op=hi&rv=2&",
      "/cgi/u?op=qu&sn=40F5849A&",
      "/cgi/u?bld=1234&fw=FW1&no_cal=false&op=bird&sn=40F5849A&",
  };
  EXPECT_EQ(server.requests(), requests);
  EXPECT_TRUE(ReadText(Device() / "1234.bird") == Text(BirdBytes(1234)));
}

TEST_F(BuildsEndToEnd, AnUnreachableServerLeavesNoDeviceDirectory) {
  std::string closed;
  {
    FakeUpdateServer gone;
    closed = gone.url();
  }
  for (const std::string& url : {closed, std::string("http://[::1/cgi/u"),
                                 std::string("htp://127.0.0.1/cgi/u")}) {
    ProcessResult r = updater.Run({"-G", "-d", kSerialText, "-u", url});
    EXPECT_EQ(r.status, 1) << url;
    EXPECT_EQ(r.err, "Server request failed for " + url + "\n");
    EXPECT_FALSE(fs::exists(Device())) << url;
  }
}

// Whatever goes wrong with the answer, the build stored before stays as it was and
// nothing is recorded.
TEST_F(BuildsEndToEnd, ABadDownloadNeverTouchesTheStoredBuild) {
  std::string valid = FakeUpdateServer::BirdAnswer(BirdBytes(kBuild)).body;
  std::vector<uint8_t> random = birdwriter::ImageBytes(3000, 9);
  std::vector<uint8_t> brokenPayload = {'b', 'i', 'r', 'd', 1, 1, 0x78, 0x9C, 0xFF, 0x00};
  Answer missing = FakeUpdateServer::Lines({"ok"});
  Answer notBase64 = FakeUpdateServer::Lines({"ok", "Zm9v!A=="});
  Answer crlf;
  crlf.body = "ok\r\n" + valid.substr(3, valid.size() - 4) + "\r\n";
  Answer notFound;
  notFound.status = 404;
  Answer redirect;
  redirect.status = 302;
  redirect.location = server.url() + "?op=bird&";
  Answer cut;
  cut.body = valid;
  cut.close_mid_body = true;
  Answer noOk = FakeUpdateServer::Lines({"error", valid.substr(3)});

  const struct {
    const char* name;
    Answer answer;
    bool downloadFails;
  } cases[] = {
      {"missing line", missing, false},
      {"not base64", notBase64, false},
      {"CR LF lines", crlf, false},
      {"random bytes", FakeUpdateServer::BirdAnswer(random), false},
      {"broken payload", FakeUpdateServer::BirdAnswer(brokenPayload), false},
      {"404", notFound, true},
      {"redirect", redirect, true},
      {"closed mid-body", cut, true},
      {"no ok", noOk, true},
  };

  std::vector<uint8_t> old = BirdBytes(kBuild, 100);
  fs::create_directories(Device());
  std::ofstream(Device() / "99528558.bird", std::ios::binary) << Text(old);
  for (const auto& c : cases) {
    server.set_answer("bird", c.answer);
    ProcessResult r = Run({"-G", "-d", kSerialText});
    EXPECT_EQ(r.status, 1) << c.name;
    std::string expected = std::string(c.downloadFails ? "Download failed\n" : "") +
                           "Failed to retreive a valid BIRD file\n";
    EXPECT_EQ(r.err, expected) << c.name;
    EXPECT_TRUE(ReadText(Device() / "99528558.bird") == Text(old)) << c.name;
    EXPECT_FALSE(Contains(ReadText(Device() / ".settings"), "LATEST_DOWNLOAD")) << c.name;
    EXPECT_EQ(Entries(Device()), (std::vector<std::string>{".settings", "99528558.bird"}))
        << c.name;
  }
}

TEST_F(BuildsEndToEnd, AStoreThatCannotBeWrittenFailsTheDownload) {
  fs::create_directories(Device());
  std::ofstream(Device() / ".settings") << "CREATED_TIME=then\n";
  // The child never runs as root, so the mode bits hold for it.
  chmod(Device().c_str(), 0555);
  ProcessResult r = Run({"-G", "-d", kSerialText});
  chmod(Device().c_str(), 0755);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, "Failed to write file with 3\n");
  EXPECT_EQ(Entries(Device()), std::vector<std::string>{".settings"});
  EXPECT_EQ(ReadText(Device() / ".settings"), "CREATED_TIME=then\n");
}

TEST_F(BuildsEndToEnd, AMultiMegabyteFirmwareArrivesWhole) {
  std::vector<uint8_t> large = BirdBytes(kBuild, 4 * 1024 * 1024);
  ASSERT_GT(large.size(), 4u * 1024 * 1024);
  server.answer_bird(large);
  ProcessResult r = Run({"-G", "-d", kSerialText});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(ReadText(Device() / "99528558.bird") == Text(large));
}

TEST_F(BuildsEndToEnd, BuildListIsPrintedInVersionOrder) {
  server.answer_builds({{"100", "2.1.0"}, {"99", "2.0.9"}, {"1001", ""}, {"7", "10.0"}});
  ProcessResult r = Run({"-B", "-d", kSerialText, "-X", "0x20"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(Contains(r.out,
                       "Build List for device [40F5849A]:\n\n"
                       "Build          \tVersion        \n"
                       "1001           \t               \n"
                       "7              \t10.0           \n"
                       "99             \t2.0.9          \n"
                       "100            \t2.1.0          \n"))
      << r.out;
  EXPECT_TRUE(Contains(r.err, "GET(" + server.url() + "?op=builds&sn=40F5849A&)\n")) << r.err;
  EXPECT_EQ(server.requests(),
            (std::vector<std::string>{"/cgi/u?op=hi&rv=2&", "/cgi/u?op=builds&sn=40F5849A&"}));
  EXPECT_FALSE(fs::exists(Device())) << "listing builds touches no store";
}

TEST_F(BuildsEndToEnd, BuildListFailuresStillEndWithZero) {
  server.set_answer("builds", FakeUpdateServer::Lines({"denied"}));
  ProcessResult refused = Run({"-B", "-d", kSerialText});
  EXPECT_EQ(refused.status, 0);
  EXPECT_EQ(refused.err, "Failed to retrieve builds for 40F5849A\n");
  EXPECT_TRUE(Contains(refused.out, "No builds found for device [40F5849A]\n")) << refused.out;

  server.set_answer("hi", FakeUpdateServer::Lines({"down"}));
  ProcessResult unreachable = Run({"-B", "-d", kSerialText});
  EXPECT_EQ(unreachable.status, 0);
  EXPECT_EQ(unreachable.err, "Server request failed for " + server.url() + "\n");
}

}  // namespace
