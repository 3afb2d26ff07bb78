#include <sys/stat.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UpdaterProcess.h"
#include "Usage.h"

namespace {

const std::string kVersion = "Updater (Version: 1.1 Jan 21 2023)\n";
const std::string kCopyright = "(Copyright (c) Halvik Inc.)\n";
const std::string kRelease = "[Zepric Release: 2.9.26]\n";
const std::string kSummary =
    "\nApplication Usage:\n"
    "Updater <-B | -D | -G | -U > [-Hh | --help] [-b build_num]\n"
    "    [-d serial_num]\n"
    "    [-t transport] [-r router_serial]\n"
    "    [-s serial_port] [-o baud_rate]\n"
    "\n"
    "  Zepric Update and Maintenance Application\n"
    "    -H -h or --help for full usage information.\n"
    "\n";
// Nothing listens on port 1 of the loopback address: every server request is refused.
const std::string kDeadServer = "http://127.0.0.1:1/cgi/u";

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST(CommandLine, WithoutCommandPrintsBannerAndSummary) {
  UpdaterProcess updater;
  for (const std::vector<std::string>& words :
       {std::vector<std::string>{}, {"-OVERRIDE", "-n", "-d", "40F5849A"}}) {
    ProcessResult r = updater.Run(words);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kVersion + kCopyright + kRelease);
    EXPECT_EQ(r.err, kSummary);
  }
  // Nothing was asked for, so the store is left alone.
  struct stat info;
  EXPECT_NE(stat(updater.UpdaterDirectory().c_str(), &info), 0);
}

TEST(CommandLine, HelpPrintsAllFourBlocksInOrder) {
  UpdaterProcess updater;
  for (const char* help : {"-h", "-H", "--help", "--he"}) {
    ProcessResult r = updater.Run({"-D", help, "-Y"});
    SCOPED_TRACE(help);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, kVersion + kCopyright + kRelease);
    const std::string& e = r.err;
    ASSERT_EQ(e.rfind(kSummary, 0), 0u);
    const size_t parameters = e.find("\n  Parameters to commands:\n     -b <build number>");
    const size_t extended = e.find(
        "     -H or -h                 - Display extended usage information.\n\n"
        "  Extended Parameters:\n");
    const std::string defaultLine = "     -u <host:port>           - The hostname and port of the "
                                    "update server\n" + std::string(32, ' ') + "Default: " +
                                    _server_host_and_port(UPDATER_DEFAULT_SERVER_URL) +
                                    "\n  Extended Commands:\n";
    const size_t server = e.find(defaultLine);
    const size_t samples = e.find(
        "     -C                       - Check the given BIRDFILE\n\n Sample usage:\n\n-D ");
    EXPECT_EQ(parameters, kSummary.size() - 1);
    EXPECT_NE(extended, std::string::npos);
    EXPECT_NE(server, std::string::npos);
    EXPECT_NE(samples, std::string::npos);
    EXPECT_LT(extended, server);
    EXPECT_LT(server, samples);
    const std::string end = "-D -r D272031D                 Discover all devices connected to the "
                            "I2C Zepric network\n                               of the given "
                            "routing device D272031D.\n\n";
    EXPECT_EQ(e.size() - e.rfind(end), end.size());
  }
}

TEST(CommandLine, ServerHostAndPortOfTheHelpText) {
  EXPECT_EQ(_server_host_and_port("http://update.halvik.example:80/cgi/u"),
            "update.halvik.example:80");
  EXPECT_EQ(_server_host_and_port("http://update.halvik.example/cgi/u"),
            "update.halvik.example:80");
  EXPECT_EQ(_server_host_and_port("https://10.0.0.1/cgi/u"), "10.0.0.1:443");
  EXPECT_EQ(_server_host_and_port("host:8080"), "host:8080");
}

struct Failure {
  std::vector<std::string> words;
  int status;
  std::string out;  // all of stdout
  std::string err;  // all of stderr
};

TEST(CommandLine, MessagesAndExitStatusOfEveryRefusal) {
  const Failure cases[] = {
      {{"-Y"}, 1, kVersion + kCopyright, "Unhandled command: [-Y]\n" + kSummary},
      {{"-U", "-d", "0x"}, 1, kVersion + kCopyright,
       "Invalid serial number obtained from argument []\n" + kSummary},
      {{"-D", "-r", "xyz"}, 1, kVersion + kCopyright,
       "Invalid router serial number obtained from argument [xyz]\n" + kSummary},
      {{"-D", "-t", "tcp"}, 1, kVersion + kCopyright,
       "Invalid transport type:[tcp]\nMust be one of the following: USB, TCPIP, RECOVER\n" +
           kSummary},
      {{"-G"}, 1, kVersion,
       "-G must specify a specific device via -d\n--help for usage information\n"},
      {{"-U"}, 1, kVersion, "Must specify the specific device to be updated\n"},
      // -k takes -d as its file name, so no device is named.
      {{"-k", "-d", "40F5849A", "-U"}, 1, kVersion,
       "Must specify the specific device to be updated\n"},
      {{"-B"}, 1, kVersion,
       "Error must supply a serial number for the List Builds command\n" + kSummary},
      {{"-N", "-D"}, 1, kVersion, "Must specify the serial port used for connecting\n"},
      // Commands no step runs end with the status of the steps before them.
      {{"-I"}, 0, kVersion, ""},
      {{"-C", "-Q", "-Z", "-U"}, 0, kVersion, ""},
  };
  UpdaterProcess updater;
  for (const Failure& c : cases) {
    ProcessResult r = updater.Run(c.words);
    SCOPED_TRACE(c.words.front() + (c.words.size() > 1 ? " " + c.words[1] : ""));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
  }
}

TEST(CommandLine, RunCreatesTheStoreDirectory) {
  UpdaterProcess updater;
  ASSERT_EQ(updater.Run({"-I"}).status, 0);
  struct stat info;
  ASSERT_EQ(stat(updater.UpdaterDirectory().c_str(), &info), 0);
  EXPECT_TRUE(S_ISDIR(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0755u);
}

TEST(CommandLine, UnusableHomeStopsBeforeAnyCommand) {
  UpdaterProcess updater;
  updater.SetEnv("HOME", "/dev/null/nowhere");
  ProcessResult r = updater.Run({"-G", "-d", "40F5849A", "-u", kDeadServer});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kVersion);
  EXPECT_EQ(r.err, "Could not find updater directory at /dev/null/nowhere/.halvik/updater\n");
}

TEST(CommandLine, DownloadAnnouncesWhatItFetches) {
  UpdaterProcess updater;
  ProcessResult latest = updater.Run({"-G", "-d", "0x40f5849a", "-u", kDeadServer});
  EXPECT_EQ(latest.status, 1);
  EXPECT_EQ(latest.out.rfind(kVersion +
                                 "Retrieving firmware for device with serial number 40F5849A\n"
                                 "No build specified\nUsing Latest build\n",
                             0),
            0u);
  ProcessResult named = updater.Run({"-G", "-d", "40F5849A", "-b", "0099528558", "-u", kDeadServer});
  EXPECT_EQ(named.status, 1);
  EXPECT_TRUE(Contains(named.out, "Retrieving firmware build 99528558\n"));
}

TEST(CommandLine, StepsRunInFixedOrderAndDiscoveryEndsWithZero) {
  UpdaterProcess updater;
  updater.MergeStderr(true);
  // Given in reverse order on purpose; -U must not run after -D.
  ProcessResult r = updater.Run({"-U", "-D", "-G", "-N", "-s", "/nonexistent/tty", "-d",
                                 "40F5849A", "-u", kDeadServer});
  EXPECT_EQ(r.status, 0);
  const size_t fingerprint = r.out.find("Got no response from chip\n");
  const size_t download = r.out.find("Retrieving firmware for device with serial number 40F5849A");
  const size_t discovery = r.out.find("Searching for Zepric devices\nDiscovered Devices: (USB)\n");
  ASSERT_NE(fingerprint, std::string::npos);
  ASSERT_NE(download, std::string::npos);
  ASSERT_NE(discovery, std::string::npos);
  EXPECT_LT(fingerprint, download);
  EXPECT_LT(download, discovery);
  EXPECT_FALSE(Contains(r.out, "Must specify the specific device to be updated"));
  EXPECT_FALSE(Contains(r.out, "Update time"));
}

TEST(CommandLine, FailedStepsBeforeAnUnusedCommandDecideTheStatus) {
  UpdaterProcess updater;
  EXPECT_EQ(updater.Run({"-N", "-s", "/nonexistent/tty", "-I"}).status, 1);
  EXPECT_EQ(updater.Run({"-G", "-d", "40F5849A", "-u", kDeadServer, "-C"}).status, 1);
}

TEST(CommandLine, TraceMaskGovernsTheLog) {
  UpdaterProcess updater;
  ProcessResult traced = updater.Run({"-X", "0x10001", "-d", "0x40F5849A", "-I"});
  EXPECT_EQ(traced.status, 0);
  EXPECT_EQ(traced.err, "Discarding '0x' serial number prefix\n"
                        "\nApplication parameters:[updater]\n"
                        "\t[" UPDATER_BINARY_DIR "/updater]\n\t[-X]\n\t[0x10001]\n\t[-d]\n"
                        "\t[0x40F5849A]\n\t[-I]\n");

  ProcessResult bad = updater.Run({"-X", "12zz", "-d", "0x40F5849A", "-I"});
  EXPECT_EQ(bad.status, 0);
  EXPECT_EQ(bad.err, "Invalid format for \"-X\" parameter, unprocessed characters [zz]\n");
}

TEST(CommandLine, HostileArgumentVectorsNeverCrash) {
  UpdaterProcess updater;
  const std::string longWord(100000, 'F');
  const std::vector<std::vector<std::string>> vectors = {
      {"", "=", "-=", "==", "-d=", "--help="},
      {"-d", longWord, "-r", "0x" + longWord, "-t", longWord, "-X", longWord, "-I"},
      {"-f", longWord, "-s", longWord, "-u", longWord, "-l", longWord, "-k", longWord, "-I"},
      {"\xff\xfe", "-\xc3\x28", "-d", "\xe2\x82", "-t", "\x80USB", "-" + longWord},
      {"-b", "-o", "-e", "-X"},
  };
  for (const auto& words : vectors) {
    ProcessResult r = updater.Run(words);
    EXPECT_FALSE(r.timedOut);
    EXPECT_TRUE(r.status == 0 || r.status == 1) << r.status;
    // In a sanitizer build a fault ends with status 1 too, so look for its report.
    EXPECT_FALSE(Contains(r.err, "Sanitizer") || Contains(r.err, "runtime error")) << r.err;
    EXPECT_EQ(r.out.rfind(kVersion, 0), 0u);
  }
}

TEST(CommandLine, TerminalShowsTheSameLines) {
  UpdaterProcess updater;
  updater.SetTerminal(true);
  ProcessResult r = updater.Run({"-I"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, kVersion);
}

}  // namespace
