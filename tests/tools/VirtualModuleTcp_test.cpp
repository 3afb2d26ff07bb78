// The TCP transport of the virtual module, met by a plain socket on the loopback network.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "ModuleCore.h"
#include "TcpServer.h"

using namespace virtualmodule;
using Bytes = std::vector<uint8_t>;

namespace {

class HostSocket {
 public:
  HostSocket(const std::string& address, uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &target.sin_addr);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&target), sizeof target) == 0;
  }
  ~HostSocket() { close(fd_); }
  bool connected() const { return connected_; }

  void send(const Bytes& bytes) { ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), 0), ssize_t(bytes.size())); }

  // Reads exactly count bytes; fewer when the module closes the connection or nothing comes.
  Bytes read(size_t count, int timeoutMs = 5000) {
    Bytes bytes;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (bytes.size() < count && std::chrono::steady_clock::now() < deadline) {
      pollfd poller{fd_, POLLIN, 0};
      if (poll(&poller, 1, 50) <= 0) continue;
      uint8_t buffer[64];
      const ssize_t n = recv(fd_, buffer, std::min(sizeof buffer, count - bytes.size()), 0);
      if (n <= 0) {
        closedByModule_ = true;
        break;
      }
      bytes.insert(bytes.end(), buffer, buffer + n);
    }
    return bytes;
  }
  bool closedByModule() const { return closedByModule_; }

 private:
  int fd_ = -1;
  bool connected_ = false;
  bool closedByModule_ = false;
};

bool eventually(const std::function<bool()>& condition) {
  for (int i = 0; i < 500; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

DeviceModel sampleDevice() {
  DeviceModel device;
  device.serialNumber = 0x40F5849A;
  device.build = 77;
  return device;
}

}  // namespace

TEST(VirtualModuleTcp, CarriesTheLinkAndNoticesTheHostLeaving) {
  ModuleCore core(sampleDevice());
  TcpServer server(core, "127.0.0.23", 0);
  ASSERT_NE(server.port(), 0);
  {
    HostSocket host("127.0.0.23", server.port());
    ASSERT_TRUE(host.connected());
    host.send({0xAF, 0x01, 0x01, 0xAD, 0x00});
    EXPECT_EQ(host.read(2), (Bytes{0x02, 0x00}));
    host.send({0x02, 0x02, 0x49});
    host.send({0xFF});  // split across segments
    EXPECT_EQ(host.read(8), (Bytes{0x02, 0x06, 0x49, 0xFF, 0, 0, 0, 77}));
    EXPECT_TRUE(core.linkStarted());
  }
  EXPECT_TRUE(eventually([&] { return !core.connected(); }));
  EXPECT_EQ(core.packetsFromHost(), (std::vector<Packet>{{0x02, {0x49, 0xFF}}}));
}

TEST(VirtualModuleTcp, ResetClosesTheConnectionAndTheModuleTakesTheNextOne) {
  ModuleCore core(sampleDevice());
  TcpServer server(core, "127.0.0.23", 0);
  HostSocket first("127.0.0.23", server.port());
  first.send({0x02, 0x03, 0x03, 0x8B, 0x20});
  EXPECT_EQ(first.read(5), (Bytes{0x02, 0x03, 0x03, 0xCB, 0x00}));
  first.read(1, 2000);
  EXPECT_TRUE(first.closedByModule());

  HostSocket second("127.0.0.23", server.port());
  second.send({0xAD, 0x00});
  EXPECT_EQ(second.read(2), (Bytes{0x02, 0x00}));
}

TEST(VirtualModuleTcp, ANewConnectionReplacesTheOldOne) {
  ModuleCore core(sampleDevice());
  TcpServer server(core, "127.0.0.23", 0);
  HostSocket first("127.0.0.23", server.port());
  first.send({0xAD, 0x00});
  EXPECT_EQ(first.read(2), (Bytes{0x02, 0x00}));
  HostSocket second("127.0.0.23", server.port());
  first.read(1, 2000);
  EXPECT_TRUE(first.closedByModule());
  second.send({0xAD, 0x00});
  EXPECT_EQ(second.read(2), (Bytes{0x02, 0x00}));
}

TEST(VirtualModuleTcp, HeartbeatsRunOnTheServerClock) {
  DeviceModel device = sampleDevice();
  device.heartbeatTenths = 1;
  ModuleCore core(device);
  TcpServer server(core, "127.0.0.23", 0);
  HostSocket host("127.0.0.23", server.port());
  host.send({0xAF, 0x01, 0x01});
  EXPECT_EQ(host.read(4), (Bytes{0x02, 0x02, 0x00, 0x00}));
  host.send({0x02, 0x02, 0x00, 0x02});
  EXPECT_TRUE(eventually([&] { return core.heartbeats().answered == 1; }));
}

TEST(VirtualModuleTcp, DropOnRequestFromAnotherThread) {
  ModuleCore core(sampleDevice());
  TcpServer server(core, "127.0.0.23", 0);
  HostSocket host("127.0.0.23", server.port());
  ASSERT_TRUE(eventually([&] { return core.connected(); }));
  core.sendGarbage({0x05, 0x07});
  EXPECT_EQ(host.read(2), (Bytes{0x05, 0x07}));
  core.dropLink();
  host.read(1, 2000);
  EXPECT_TRUE(host.closedByModule());
}

TEST(VirtualModuleTcp, RefusesAnAddressItCannotListenOn) {
  ModuleCore core(sampleDevice());
  EXPECT_THROW(TcpServer(core, "not-an-address", 0), std::invalid_argument);
  TcpServer taken(core, "127.0.0.23", 0);
  EXPECT_THROW(TcpServer(core, "127.0.0.23", taken.port()), std::runtime_error);
}
