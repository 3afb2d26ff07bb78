// The virtual-module program as scripts and end-to-end tests run it.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "UpdaterProcess.h"
#include "VirtualModuleProcess.h"

using virtualmodule::VirtualModuleProcess;
using Bytes = std::vector<uint8_t>;

namespace {

const std::string kProgram = UPDATER_BINARY_DIR "/virtual-module";

// Sends each request and collects the expected number of reply bytes for it.
std::vector<Bytes> converse(const std::string& address, uint16_t port,
                            const std::vector<std::pair<Bytes, size_t>>& exchanges) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  inet_pton(AF_INET, address.c_str(), &target.sin_addr);
  std::vector<Bytes> replies;
  if (connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0) {
    for (const auto& exchange : exchanges) {
      send(fd, exchange.first.data(), exchange.first.size(), 0);
      Bytes reply;
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (reply.size() < exchange.second && std::chrono::steady_clock::now() < deadline) {
        pollfd poller{fd, POLLIN, 0};
        if (poll(&poller, 1, 50) <= 0) continue;
        uint8_t buffer[64];
        const ssize_t n = recv(fd, buffer, exchange.second - reply.size(), 0);
        if (n <= 0) break;
        reply.insert(reply.end(), buffer, buffer + n);
      }
      replies.push_back(reply);
    }
  }
  close(fd);
  return replies;
}

}  // namespace

TEST(VirtualModuleProgram, ServesTheModulesItWasToldAboutAndStopsOnSigterm) {
  const std::string log = testing::TempDir() + "virtual-module-e2e.log";
  std::remove(log.c_str());
  VirtualModuleProcess module(kProgram, {"--address", "127.0.0.24", "--port", "0", "--serial", "40F5849A", "--model",
                                         "17", "--version", "2.1.5", "--build", "1234", "--module", "4:11112222:5",
                                         "--log", log});
  EXPECT_EQ(module.address(), "127.0.0.24");
  const auto replies = converse(module.address(), module.port(),
                                {{{0xAF, 1, 1, 0xAD, 0}, 2},
                                 {{2, 2, 0x49, 0xFF}, 8},
                                 {{2, 3, 0x03, 0x48, 0x20}, 6},
                                 {{2, 3, 0x03, 0x49, 0x20}, 9},
                                 {{2, 3, 0x03, 0x47, 0x20}, 9},
                                 {{4, 3, 0x03, 0x49, 0x20}, 9}});
  const std::vector<Bytes> expected = {
      {2, 0},
      {2, 6, 0x49, 0xFF, 0, 0, 0x04, 0xD2},
      {2, 4, 0x03, 0x08, 0x00, 17},
      {2, 7, 0x03, 0x09, 0x00, 0x40, 0xF5, 0x84, 0x9A},
      {2, 7, 0x03, 0x07, 0x00, 0x21, 0, 0, 5},
      {4, 7, 0x03, 0x09, 0x00, 0x11, 0x11, 0x22, 0x22},
  };
  EXPECT_EQ(replies, expected);
  EXPECT_EQ(module.stop(), 0);

  std::ifstream file(log);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_NE(text.str().find("> AD 00 address query\n< 02 00\n"), std::string::npos) << text.str();
  EXPECT_NE(text.str().find("< 04 07 03 09 00 11 11 22 22\n"), std::string::npos) << text.str();
}

TEST(VirtualModuleProgram, KnobsFromTheCommandLine) {
  VirtualModuleProcess module(kProgram, {"--address", "127.0.0.24", "--port", "0", "--answer-absent",
                                         "--wrong-length", "0x49", "--garbage-before-replies", "1"});
  const auto replies = converse(module.address(), module.port(),
                                {{{2, 3, 0x03, 0x41, 0x20}, 7}, {{2, 2, 0x49, 0xFF}, 7}, {{8, 3, 0x03, 0x49, 0x20}, 6}});
  const std::vector<Bytes> expected = {
      {0x05, 2, 4, 0x03, 0x01, 0x00, 2},
      {2, 5, 0x49, 0xFF, 0, 0, 0},
      {8, 4, 0x03, 0x09, 0x80, 3},
  };
  EXPECT_EQ(replies, expected);
}

TEST(VirtualModuleProgram, RejectsBadOptionsWithUsage) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"--bogus"}, "unknown option --bogus"},
      {{"--module", "3:1:1"}, "module addresses are even"},
      {{"--version", "2.1"}, "MAJOR.MINOR.PATCH"},
      {{"--port"}, "--port needs a value"},
  };
  UpdaterProcess runner;
  runner.SetProgram(kProgram);
  for (const auto& c : cases) {
    const ProcessResult result = runner.Run(c.first);
    EXPECT_EQ(result.status, 2) << c.second;
    EXPECT_NE(result.err.find(c.second), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("usage: virtual-module"), std::string::npos);
  }
}

TEST(VirtualModuleProgram, ReportsAnAddressItCannotListenOn) {
  UpdaterProcess runner;
  runner.SetProgram(kProgram);
  const ProcessResult result = runner.Run({"--address", "192.0.2.1", "--port", "0"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("bind 192.0.2.1"), std::string::npos) << result.err;
}
