#include "DiscoveryResponder.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace virtualmodule {

namespace {

constexpr uint8_t kRequestMarker = 1;

void putLittleEndian(uint8_t* out, uint32_t value, unsigned width) {
  for (unsigned i = 0; i < width; ++i) out[i] = uint8_t(value >> (8 * i));
}

int udpSocket(const sockaddr_in& bindAddress, bool shared) {
  const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
  const int on = 1;
  // Several virtual modules on one machine all listen to the same group and port.
  if (shared) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<const sockaddr*>(&bindAddress), sizeof bindAddress) != 0) {
    const std::string message = "bind " + ipv4Text(bindAddress) + ": " + std::strerror(errno);
    close(fd);
    throw std::runtime_error(message);
  }
  return fd;
}

}  // namespace

std::array<uint8_t, 16> discoveryReply(const DeviceModel& device, uint16_t tcpPort) {
  std::array<uint8_t, 16> reply{};
  reply[0] = 2;
  reply[1] = device.moduleAddress;
  putLittleEndian(&reply[2], tcpPort, 2);
  putLittleEndian(&reply[4], device.serialNumber, 4);
  reply[12] = device.model;
  return reply;
}

DiscoveryResponder::DiscoveryResponder(ModuleCore& core, const std::string& interfaceAddress,
                                       const std::string& replySource, uint16_t tcpPort)
    : core_(core), tcpPort_(tcpPort) {
  const sockaddr_in group = ipv4Address(kDiscoveryGroup, kDiscoveryRequestPort);
  const sockaddr_in interface = ipv4Address(interfaceAddress, 0);
  const sockaddr_in source = ipv4Address(replySource, 0);
  requestFd_ = udpSocket(group, true);
  ip_mreq membership{};
  membership.imr_multiaddr = group.sin_addr;
  membership.imr_interface = interface.sin_addr;
  if (setsockopt(requestFd_, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0) {
    const std::string message = "joining " + std::string(kDiscoveryGroup) + " on " + interfaceAddress + ": " +
                                std::strerror(errno);
    close(requestFd_);
    throw std::runtime_error(message);
  }
  try {
    replyFd_ = udpSocket(source, false);
  } catch (...) {
    close(requestFd_);
    throw;
  }
  thread_ = std::thread([this] { run(); });
}

DiscoveryResponder::~DiscoveryResponder() {
  running_ = false;
  wake_.wake();
  thread_.join();
  close(requestFd_);
  close(replyFd_);
}

void DiscoveryResponder::run() {
  while (running_) {
    pollfd fds[2] = {{wake_.readEnd(), POLLIN, 0}, {requestFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) answer();
  }
}

void DiscoveryResponder::answer() {
  uint8_t request[64];
  sockaddr_in sender{};
  socklen_t senderLength = sizeof sender;
  const ssize_t n = recvfrom(requestFd_, request, sizeof request, 0, reinterpret_cast<sockaddr*>(&sender), &senderLength);
  if (n < 1 || request[0] != kRequestMarker) return;
  const auto reply = discoveryReply(core_.device(core_.primaryAddress()), tcpPort_);
  sender.sin_port = htons(kDiscoveryReplyPort);
  sendto(replyFd_, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&sender), sizeof sender);
  core_.note("discovery request from " + ipv4Text(sender));
}

}  // namespace virtualmodule
