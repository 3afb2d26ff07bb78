#include "TcpServer.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace virtualmodule {

namespace {

constexpr int kTickMs = 5;

[[noreturn]] void fail(const std::string& what, int fd) {
  const std::string message = what + ": " + std::strerror(errno);
  if (fd >= 0) close(fd);
  throw std::runtime_error(message);
}

}  // namespace

class TcpServer::Client : public HostSink {
 public:
  explicit Client(int fd) : fd_(fd) {}
  ~Client() override { close(fd_); }

  int fd() const { return fd_; }
  bool dropRequested() const { return dropRequested_; }

  void toHost(const std::vector<uint8_t>& bytes) override {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      // A host that has gone away loses its bytes; the read side notices and detaches.
      if (n <= 0) return;
      sent += size_t(n);
    }
  }

  void dropLink() override { dropRequested_ = true; }

 private:
  int fd_;
  std::atomic<bool> dropRequested_{false};
};

TcpServer::TcpServer(ModuleCore& core, const std::string& address, uint16_t port)
    : core_(core), address_(address) {
  const sockaddr_in bindAddress = ipv4Address(address, port);
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) fail("socket", -1);
  const int on = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(listenFd_, reinterpret_cast<const sockaddr*>(&bindAddress), sizeof bindAddress) != 0)
    fail("bind " + address + ":" + std::to_string(port), listenFd_);
  if (listen(listenFd_, 4) != 0) fail("listen", listenFd_);
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &length);
  port_ = ntohs(bound.sin_port);
  thread_ = std::thread([this] { run(); });
}

TcpServer::~TcpServer() {
  running_ = false;
  wake_.wake();
  thread_.join();
  closeClient();
  close(listenFd_);
}

void TcpServer::run() {
  while (running_) {
    pollfd fds[3] = {{wake_.readEnd(), POLLIN, 0}, {listenFd_, POLLIN, 0}, {client_ ? client_->fd() : -1, POLLIN, 0}};
    if (poll(fds, 3, kTickMs) < 0 && errno != EINTR) break;
    if (fds[1].revents & POLLIN) accept();
    if (client_ && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) receive();
    if (client_ && client_->dropRequested()) closeClient();
    core_.tick(ModuleCore::Clock::now());
  }
}

void TcpServer::accept() {
  const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return;
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  auto client = std::make_unique<Client>(fd);
  // The core stops using the old client once the new one is attached, so it can go after.
  core_.attach(*client);
  client_ = std::move(client);
}

void TcpServer::receive() {
  uint8_t buffer[512];
  const ssize_t n = recv(client_->fd(), buffer, sizeof buffer, 0);
  if (n > 0) {
    core_.fromHost(buffer, size_t(n), ModuleCore::Clock::now());
  } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
    closeClient();
  }
}

void TcpServer::closeClient() {
  if (!client_) return;
  if (!client_->dropRequested()) core_.detach();
  client_.reset();
}

}  // namespace virtualmodule
