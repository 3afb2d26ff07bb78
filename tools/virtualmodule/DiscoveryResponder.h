#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "DeviceModel.h"
#include "ModuleCore.h"
#include "SocketHelpers.h"

namespace virtualmodule {

constexpr const char* kDiscoveryGroup = "232.2.2.2";
constexpr uint16_t kDiscoveryRequestPort = 9888;
constexpr uint16_t kDiscoveryReplyPort = 9889;

// What a module tells a host looking for it: its address, the TCP port it takes links on, its
// serial number (both little-endian) and its model.
std::array<uint8_t, 16> discoveryReply(const DeviceModel& device, uint16_t tcpPort);

// Answers discovery requests for the module on the link of a core. Joins the discovery group
// on the interface with the given address and sends each reply from replySource (the address
// the host is to connect to) to port 9889 of the request's sender.
class DiscoveryResponder {
 public:
  // Throws std::runtime_error when the sockets can't be set up.
  DiscoveryResponder(ModuleCore& core, const std::string& interfaceAddress, const std::string& replySource,
                     uint16_t tcpPort);
  ~DiscoveryResponder();
  DiscoveryResponder(const DiscoveryResponder&) = delete;
  DiscoveryResponder& operator=(const DiscoveryResponder&) = delete;

 private:
  void run();
  void answer();

  ModuleCore& core_;
  uint16_t tcpPort_;
  int requestFd_ = -1;
  int replyFd_ = -1;
  WakePipe wake_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

}  // namespace virtualmodule
