#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "BirdWriter.h"
#include "FakeUpdateServer.h"
#include "UpdaterProcess.h"

namespace {

// -G -U: the update must use exactly the build the download just fetched. If the build were
// lost between the steps, the update would ask the server for the current build again.
// The update finds no module, and looking for one over TCP/IP sends discovery multicast,
// which is why this runs in a private network namespace.
TEST(DownloadThenUpdate, UpdateUsesTheBuildJustDownloaded) {
  if (getenv("UPDATER_NETNS") == nullptr) GTEST_SKIP() << "needs a private network namespace";
  birdwriter::FirmwareOptions options;
  options.serial = 0x40F5849A;
  options.build = 99528558;
  FakeUpdateServer server;
  server.answer_current_build(99528558, "FW1");
  server.answer_builds({{"99528558", "2.1.7"}});
  server.answer_bird(birdwriter::Encode(birdwriter::FirmwareBlocks(options)));

  UpdaterProcess updater;
  ProcessResult r = updater.Run({"-G", "-U", "-d", "40F5849A", "-u", server.url()});
  EXPECT_EQ(r.status, 1);  // no module to update
  EXPECT_EQ(server.requests_for("qu").size(), 1u);
  EXPECT_EQ(r.out.find("Updating with the Latest"), std::string::npos);
}

}  // namespace
