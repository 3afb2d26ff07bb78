#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "aDiscovery.h"

namespace {

// Addresses of the private namespace the wrapper makes; the request never leaves it.
constexpr const char* kHostSide = "10.77.0.1";
constexpr const char* kModuleSide = "10.77.0.2";

struct Request {
  std::string bytes;
  std::string from;
};

// Plays the modules: joins the discovery group on both ends of the veth pair (multicast loop
// hands it the request sent from each) and answers the first request with canned replies sent from
// the other address, so that a specifier's address can only have come from the datagram.
class Responder {
 public:
  explicit Responder(std::vector<std::string> replies) : replies_(std::move(replies)) {
    fd_ = socket(AF_INET, SOCK_DGRAM, 0);
    int on = 1;
    setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    struct sockaddr_in any = {};
    any.sin_family = AF_INET;
    any.sin_port = htons(9888);
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    ok_ = bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof(any)) == 0;
    for (const char* side : {kHostSide, kModuleSide}) {
      struct ip_mreq join = {};
      inet_pton(AF_INET, "232.2.2.2", &join.imr_multiaddr);
      inet_pton(AF_INET, side, &join.imr_interface);
      ok_ = ok_ && setsockopt(fd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &join, sizeof(join)) == 0;
    }
    struct timeval poll = {0, 50 * 1000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &poll, sizeof(poll));

    replyFd_ = socket(AF_INET, SOCK_DGRAM, 0);
    struct sockaddr_in from = {};
    from.sin_family = AF_INET;
    inet_pton(AF_INET, kModuleSide, &from.sin_addr);
    ok_ = ok_ && bind(replyFd_, reinterpret_cast<sockaddr*>(&from), sizeof(from)) == 0;
    thread_ = std::thread([this] { serve(); });
  }
  ~Responder() {
    stop_ = true;
    thread_.join();
    close(fd_);
    close(replyFd_);
  }
  bool ok() const { return ok_; }
  std::vector<Request> requests() {
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
  }

 private:
  void serve() {
    bool answered = false;
    while (!stop_) {
      char buf[64];
      struct sockaddr_in src = {};
      socklen_t len = sizeof(src);
      ssize_t n = recvfrom(fd_, buf, sizeof(buf), 0, reinterpret_cast<sockaddr*>(&src), &len);
      if (n < 0) continue;
      char text[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &src.sin_addr, text, sizeof(text));
      {
        std::lock_guard<std::mutex> hold(lock_);
        requests_.push_back({std::string(buf, n), text});
      }
      if (answered) continue;
      answered = true;
      src.sin_port = htons(9889);
      for (const std::string& reply : replies_)
        sendto(replyFd_, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&src),
               sizeof(src));
    }
  }

  std::vector<std::string> replies_;
  int fd_ = -1;
  int replyFd_ = -1;
  bool ok_ = false;
  std::atomic<bool> stop_{false};
  std::mutex lock_;
  std::vector<Request> requests_;
  std::thread thread_;
};

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

// Module 6 on port 1234, serial number 0xD272031D, model 17.
const std::string kRouter =
    bytes({0x01, 0x06, 0xD2, 0x04, 0x1D, 0x03, 0x72, 0xD2, 0, 0, 0, 0, 0x11, 0, 0, 0});
// Module 8 on port 0x2345, serial 0x00C0FFEE, model 5, with trailing bytes ignored.
const std::string kSecond = bytes({0x00, 0x08, 0x45, 0x23, 0xEE, 0xFF, 0xC0, 0x00, 9, 9, 9, 9,
                                   0x05, 9, 9, 9, 0x77, 0x77});
// Too short to carry serial number or model.
const std::string kShort = bytes({0x01, 0x0A, 0x10, 0x00, 0x42, 0x00});
const std::string kNoSerial =
    bytes({0x01, 0x02, 0x50, 0x00, 0, 0, 0, 0, 0, 0, 0, 0, 0x0D, 0, 0, 0});

uint32_t ip(const char* text) {
  struct in_addr a;
  inet_pton(AF_INET, text, &a);
  return a.s_addr;
}

struct Collected {
  std::vector<linkSpec> specs;
  int stopAfter = -1;  // callback calls before it asks to stop; -1 never
  bool take = true;
};

bool collect(const linkSpec* spec, bool* success, void* ref) {
  auto* c = static_cast<Collected*>(ref);
  c->specs.push_back(*spec);
  *success = c->take;
  return c->stopAfter < 0 || static_cast<int>(c->specs.size()) < c->stopAfter;
}

void expectSpec(const linkSpec& s, uint32_t serial, uint32_t address, uint32_t port,
                uint32_t model) {
  EXPECT_EQ(s.type, TCPIP);
  EXPECT_EQ(s.serialNumber, serial);
  EXPECT_EQ(s.routerSerialNumber, serial);
  EXPECT_EQ(s.moduleAddress, address);
  EXPECT_EQ(s.routerAddress, address);
  EXPECT_EQ(s.port, port);
  EXPECT_EQ(s.model, model);
  EXPECT_EQ(s.ipAddress, ip(kModuleSide));
}

class DiscoveryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getenv("UPDATER_NETNS") == nullptr)
      GTEST_SKIP() << "needs the private network namespace of tests/wrappers/run-in-netns.sh "
                      "(run through ctest as root); discovery multicast must not go out here";
    ASSERT_TRUE(onlyPrivateInterfaces())
        << "UPDATER_NETNS is set but this is not the private namespace: refusing to send "
           "discovery multicast";
  }

  // Discovery sends from every IPv4 interface, so every one must belong to the veth pair.
  static bool onlyPrivateInterfaces() {
    struct ifaddrs* list = nullptr;
    if (getifaddrs(&list) < 0) return false;
    bool onlyPrivate = true;
    for (struct ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
      if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
      uint32_t a = ntohl(reinterpret_cast<sockaddr_in*>(i->ifa_addr)->sin_addr.s_addr);
      bool loopback = a == INADDR_LOOPBACK;
      bool veth = (a & 0xFFFFFF00u) == 0x0A4D0000u;  // 10.77.0.0/24
      onlyPrivate = onlyPrivate && (loopback || veth);
    }
    freeifaddrs(list);
    return onlyPrivate;
  }
};

TEST_F(DiscoveryTest, RequestFromEachInterfaceAndRepliesBecomeSpecifiers) {
  Responder modules({kRouter, kSecond, kShort});
  ASSERT_TRUE(modules.ok());
  Collected found;
  EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, collect, &found), 3);

  ASSERT_EQ(found.specs.size(), 3u);
  expectSpec(found.specs[0], 0xD272031D, 6, 1234, 17);
  expectSpec(found.specs[1], 0x00C0FFEE, 8, 0x2345, 5);
  // Fields the reply did not carry are zero, not left over from the reply before.
  expectSpec(found.specs[2], 0x00000042, 10, 16, 255);

  std::vector<Request> requests = modules.requests();
  ASSERT_FALSE(requests.empty());
  std::set<std::string> sources;
  for (const Request& r : requests) {
    EXPECT_EQ(r.bytes, bytes({1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    sources.insert(r.from);
  }
  EXPECT_EQ(sources, (std::set<std::string>{kHostSide, kModuleSide}))
      << "one request from every interface but loopback";
}

TEST_F(DiscoveryTest, CallbackStopsTheSearchAndCountsOnlyWhatItTook) {
  {
    Responder modules({kRouter, kSecond});
    Collected found;
    found.stopAfter = 1;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, collect, &found), 1);
    EXPECT_EQ(found.specs.size(), 1u);
  }
  {
    Responder modules({kRouter, kSecond});
    Collected found;
    found.take = false;
    EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, collect, &found), 0);
    EXPECT_EQ(found.specs.size(), 2u);
  }
}

TEST_F(DiscoveryTest, LookupsTakeTheFirstMatch) {
  struct Case {
    const char* name;
    linkSpec* (*find)();
    bool found;
    uint32_t serial;
  };
  const Case cases[] = {
      {"by serial", [] { return aDiscovery_FindModule(TCPIP, 0x00C0FFEE); }, true, 0x00C0FFEE},
      {"first with a serial", [] { return aDiscovery_FindFirstModule(TCPIP); }, true,
       0xD272031D},
      {"by model", [] { return aDiscovery_FindModuleByModel(TCPIP, 5); }, true, 0x00C0FFEE},
      {"any model", [] { return aDiscovery_FindModuleByModel(TCPIP, 0); }, true, 0},
      {"serial not seen", [] { return aDiscovery_FindModule(TCPIP, 0x12345678); }, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Responder modules({kNoSerial, kRouter, kSecond});
    linkSpec* spec = c.find();
    if (!c.found) {
      EXPECT_EQ(spec, nullptr);
      continue;
    }
    ASSERT_NE(spec, nullptr);
    EXPECT_EQ(spec->serialNumber, c.serial);
    EXPECT_EQ(spec->ipAddress, ip(kModuleSide));
    EXPECT_EQ(aLinkSpec_Destroy(&spec), aErrNone);
  }
}

TEST_F(DiscoveryTest, NoModulesFindsNothing) {
  Responder silent({});
  Collected found;
  EXPECT_EQ(aDiscovery_EnumerateModules(TCPIP, collect, &found), 0);
  EXPECT_TRUE(found.specs.empty());
  EXPECT_FALSE(silent.requests().empty()) << "the request still went out";
  EXPECT_EQ(aDiscovery_EnumerateModules(static_cast<linkType>(7), collect, &found), 0);
}

}  // namespace
