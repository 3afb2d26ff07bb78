// Discovery replies of the virtual module, inside a private network namespace so that the
// multicast request never leaves this machine.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>

#include "DiscoveryResponder.h"
#include "ModuleCore.h"
#include "VirtualModuleProcess.h"

using namespace virtualmodule;

namespace {

struct Reply {
  std::string source;
  std::vector<uint8_t> bytes;
};

// A host's side of discovery, written from the datagram layout: listen on 9889, send the
// 16-byte request to the group from one interface, collect what comes back.
std::vector<Reply> discover(const std::string& interfaceAddress, uint8_t marker, int waitMs) {
  const int listener = socket(AF_INET, SOCK_DGRAM, 0);
  const int on = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in any{};
  any.sin_family = AF_INET;
  any.sin_port = htons(kDiscoveryReplyPort);
  EXPECT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&any), sizeof any), 0);

  const int sender = socket(AF_INET, SOCK_DGRAM, 0);
  in_addr interface{};
  inet_pton(AF_INET, interfaceAddress.c_str(), &interface);
  setsockopt(sender, IPPROTO_IP, IP_MULTICAST_IF, &interface, sizeof interface);
  sockaddr_in group{};
  group.sin_family = AF_INET;
  group.sin_port = htons(kDiscoveryRequestPort);
  inet_pton(AF_INET, kDiscoveryGroup, &group.sin_addr);
  uint8_t request[16] = {marker};
  EXPECT_EQ(sendto(sender, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&group), sizeof group), 16);
  close(sender);

  std::vector<Reply> replies;
  pollfd poller{listener, POLLIN, 0};
  while (poll(&poller, 1, waitMs) > 0) {
    uint8_t buffer[64];
    sockaddr_in from{};
    socklen_t length = sizeof from;
    const ssize_t n = recvfrom(listener, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &length);
    if (n < 0) break;
    replies.push_back(Reply{ipv4Text(from), {buffer, buffer + n}});
  }
  close(listener);
  return replies;
}

DeviceModel device(uint32_t serial, uint8_t address, uint8_t model) {
  DeviceModel d;
  d.serialNumber = serial;
  d.moduleAddress = d.routerAddress = address;
  d.model = model;
  return d;
}

class VirtualModuleDiscovery : public testing::Test {
 protected:
  void SetUp() override {
    const char* namespaceAddress = std::getenv("UPDATER_NETNS");
    if (!namespaceAddress) GTEST_SKIP() << "needs a private network namespace (run through ctest as root)";
    interface_ = namespaceAddress;
  }
  std::string interface_;
};

}  // namespace

TEST_F(VirtualModuleDiscovery, EveryModuleAnswersFromItsOwnAddressWithItsPortSerialAndModel) {
  // A second module needs an address of its own, as host links are keyed by address.
  ASSERT_EQ(std::system("ip addr add 10.77.0.3/24 dev v0 2>/dev/null || ip addr show dev v0 | grep -q 10.77.0.3"), 0);
  ModuleCore first(device(0xD272031D, 6, 17));
  ModuleCore second(device(0x0000ABCD, 2, 5));
  DiscoveryResponder firstResponder(first, interface_, interface_, 1234);
  DiscoveryResponder secondResponder(second, interface_, "10.77.0.3", 4321);

  std::map<std::string, std::vector<uint8_t>> bySource;
  for (const auto& reply : discover(interface_, 1, 1000)) bySource[reply.source] = reply.bytes;
  ASSERT_EQ(bySource.size(), 2u);
  const std::vector<uint8_t> firstReply = bySource[interface_];
  ASSERT_EQ(firstReply.size(), 16u);
  EXPECT_EQ(std::vector<uint8_t>(firstReply.begin() + 1, firstReply.begin() + 8),
            (std::vector<uint8_t>{6, 0xD2, 0x04, 0x1D, 0x03, 0x72, 0xD2}));
  EXPECT_EQ(firstReply[12], 17);
  const std::vector<uint8_t> secondReply = bySource["10.77.0.3"];
  ASSERT_EQ(secondReply.size(), 16u);
  EXPECT_EQ(secondReply[1], 2);
  EXPECT_EQ(secondReply[2] | secondReply[3] << 8, 4321);
  EXPECT_EQ(secondReply[12], 5);

  bool noted = false;
  for (const auto& entry : first.traffic()) noted |= entry.note.rfind("discovery request from", 0) == 0;
  EXPECT_TRUE(noted);
}

TEST_F(VirtualModuleDiscovery, IgnoresDatagramsThatAreNoRequest) {
  ModuleCore core(device(0x12345678, 2, 1));
  DiscoveryResponder responder(core, interface_, interface_, 1234);
  EXPECT_TRUE(discover(interface_, 0, 300).empty());
}

TEST_F(VirtualModuleDiscovery, TheProgramAnswersWithTheTcpPortItListensOn) {
  VirtualModuleProcess module(UPDATER_BINARY_DIR "/virtual-module",
                              {"--address", interface_, "--port", "0", "--serial", "0A0B0C0D", "--discovery", interface_});
  const auto replies = discover(interface_, 1, 1000);
  ASSERT_EQ(replies.size(), 1u);
  EXPECT_EQ(replies[0].source, interface_);
  ASSERT_EQ(replies[0].bytes.size(), 16u);
  EXPECT_EQ(replies[0].bytes[2] | replies[0].bytes[3] << 8, module.port());
  EXPECT_EQ(std::vector<uint8_t>(replies[0].bytes.begin() + 4, replies[0].bytes.begin() + 8),
            (std::vector<uint8_t>{0x0D, 0x0C, 0x0B, 0x0A}));
}
