#include "SocketHelpers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <system_error>

namespace virtualmodule {

sockaddr_in ipv4Address(const std::string& text, uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  if (inet_pton(AF_INET, text.c_str(), &address.sin_addr) != 1)
    throw std::invalid_argument("not an IPv4 address: " + text);
  return address;
}

std::string ipv4Text(const sockaddr_in& address) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
  return text;
}

WakePipe::WakePipe() {
  if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::system_error(errno, std::generic_category(), "pipe");
}

WakePipe::~WakePipe() {
  close(fds_[0]);
  close(fds_[1]);
}

void WakePipe::wake() {
  const char byte = 1;
  // A full pipe already wakes the loop, so a failed write changes nothing.
  (void)!write(fds_[1], &byte, 1);
}

}  // namespace virtualmodule
