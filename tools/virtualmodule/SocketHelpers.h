#pragma once
#include <netinet/in.h>

#include <string>

namespace virtualmodule {

// Dotted IPv4 text to a socket address; throws std::invalid_argument for anything else.
sockaddr_in ipv4Address(const std::string& text, uint16_t port);
std::string ipv4Text(const sockaddr_in& address);

// A pipe whose read end wakes a poll loop when the owner wants it to stop.
class WakePipe {
 public:
  WakePipe();
  ~WakePipe();
  WakePipe(const WakePipe&) = delete;
  WakePipe& operator=(const WakePipe&) = delete;
  int readEnd() const { return fds_[0]; }
  void wake();

 private:
  int fds_[2];
};

}  // namespace virtualmodule
