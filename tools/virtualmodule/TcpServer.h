#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "ModuleCore.h"
#include "SocketHelpers.h"

namespace virtualmodule {

// Carries a module core over TCP: one host connection at a time (a new one replaces the old,
// as a restarted host would expect), bytes handed to the core as they arrive, and the core's
// clock ticking every few milliseconds for its heartbeats.
class TcpServer {
 public:
  // Listens at once (port 0 picks a free port); throws std::runtime_error when it can't.
  TcpServer(ModuleCore& core, const std::string& address, uint16_t port);
  ~TcpServer();
  TcpServer(const TcpServer&) = delete;
  TcpServer& operator=(const TcpServer&) = delete;

  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }

 private:
  class Client;

  void run();
  void accept();
  void receive();
  void closeClient();

  ModuleCore& core_;
  std::string address_;
  uint16_t port_ = 0;
  int listenFd_ = -1;
  std::unique_ptr<Client> client_;
  WakePipe wake_;
  std::atomic<bool> running_{true};
  std::thread thread_;
};

}  // namespace virtualmodule
