#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>

#include "BirdWriter.h"
#include "FakeUpdateServer.h"
#include "UpdaterProcess.h"

namespace {

const std::string kVersion = "Updater (Version: 1.1 Jan 21 2023)\n";
const std::string kClear = "\r" + std::string(88, ' ') + "\r";

std::vector<uint8_t> FirmwareFor(uint32_t serial, uint32_t build) {
  birdwriter::FirmwareOptions options;
  options.serial = serial;
  options.build = build;
  options.version = "2.1.7";
  return birdwriter::Encode(birdwriter::FirmwareBlocks(options));
}

bool Exists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0;
}

TEST(BuildListCommand, PrintsTheServersBuildsInVersionOrder) {
  FakeUpdateServer server;
  server.answer_builds({{"100", "2.1.0"}, {"99", "2.0.9"}});
  UpdaterProcess updater;
  ProcessResult r = updater.Run({"-B", "-d", "40F5849A", "-u", server.url()});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kVersion +
                       "Build List for device [40F5849A]:\n\n"
                       "Build          \tVersion        \n"
                       "99             \t2.0.9          \n"
                       "100            \t2.1.0          \n");
}

TEST(BuildListCommand, UnreachableServerListsNothingButStillSucceeds) {
  UpdaterProcess updater;
  ProcessResult r = updater.Run({"-B", "-d", "40F5849A", "-u", "http://127.0.0.1:1/cgi/u"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kVersion + "No builds found for device [40F5849A]\n");
}

TEST(DownloadCommand, SpinsOnATerminalWhileTheFileArrives) {
  FakeUpdateServer server;
  server.answer_current_build(99528558, "FW1");
  server.answer_builds({{"99528558", "2.1.7"}});
  FakeUpdateServer::Answer bird = FakeUpdateServer::BirdAnswer(FirmwareFor(0x40F5849A, 99528558));
  bird.delay_ms = 450;  // long enough for several spinner turns
  server.set_answer("bird", bird);

  UpdaterProcess updater;
  updater.SetTerminal(true);
  ProcessResult r = updater.Run({"-G", "-d", "40F5849A", "-u", server.url()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out.rfind(kVersion +
                            "Retrieving firmware for device with serial number 40F5849A\n"
                            "No build specified\nUsing Latest build\n",
                        0),
            0u);
  EXPECT_NE(r.out.find(" .      \r"), std::string::npos);
  EXPECT_NE(r.out.find(" ..      \r"), std::string::npos);
  EXPECT_NE(r.out.find(kClear), std::string::npos);
  EXPECT_TRUE(Exists(updater.UpdaterDirectory() + "/40F5849A/99528558.bird"));

  // The same download into a pipe carries no animation at all.
  updater.SetTerminal(false);
  ProcessResult piped = updater.Run({"-G", "-d", "40F5849A", "-u", server.url()});
  EXPECT_EQ(piped.status, 0);
  EXPECT_EQ(piped.out.find('\r'), std::string::npos);
}

TEST(DownloadCommand, NamedBuildIsTheOneFetched) {
  FakeUpdateServer server;
  server.answer_current_build(99528558, "FW1");
  server.answer_builds({{"99528558", "2.1.7"}, {"99528500", "2.1.6"}});
  server.answer_bird(FirmwareFor(0x40F5849A, 99528500));
  UpdaterProcess updater;
  ProcessResult r = updater.Run({"-G", "-d", "40F5849A", "-b", "99528500", "-u", server.url()});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("Retrieving firmware build 99528500\n"), std::string::npos);
  EXPECT_TRUE(Exists(updater.UpdaterDirectory() + "/40F5849A/99528500.bird"));
  EXPECT_FALSE(Exists(updater.UpdaterDirectory() + "/40F5849A/99528558.bird"));
}

}  // namespace
