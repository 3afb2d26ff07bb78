#ifndef TESTS_LINKLIB_SCRIPTEDMODULEPEER_H
#define TESTS_LINKLIB_SCRIPTEDMODULEPEER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// The module side of a link, scripted by a test: a TCP listener on a loopback
// address that accepts the host's connections. Everything the host writes is
// collected by a reader thread, so the test can look at it byte by byte even
// after the host has reset the connection.
class ScriptedModulePeer {
 public:
  using Bytes = std::vector<uint8_t>;

  explicit ScriptedModulePeer(const std::string& ip = "127.0.0.1") {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = 0;
    inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    int on = 1;
    setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
    if (bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        listen(listener_, 4) != 0) {
      throw std::runtime_error("cannot listen on " + ip);
    }
    socklen_t size = sizeof(address);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
    address_ = address.sin_addr.s_addr;
    port_ = ntohs(address.sin_port);
  }

  ~ScriptedModulePeer() {
    closeListener();
    disconnect();
  }

  ScriptedModulePeer(const ScriptedModulePeer&) = delete;
  ScriptedModulePeer& operator=(const ScriptedModulePeer&) = delete;

  uint32_t address() const { return address_; }  // network byte order
  uint16_t port() const { return port_; }

  // Takes the next connection of the host; false when none came in time.
  bool accept(int timeoutMs = 5000) {
    disconnect();
    pollfd pending{listener_, POLLIN, 0};
    if (poll(&pending, 1, timeoutMs) != 1) return false;
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection_ < 0) return false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      received_.clear();
      ended_ = false;
    }
    reader_ = std::thread([this] { readAll(connection_); });
    return true;
  }

  // True when the host has opened another connection that nobody took.
  bool hasPendingConnection(int timeoutMs) {
    pollfd pending{listener_, POLLIN, 0};
    return poll(&pending, 1, timeoutMs) == 1;
  }

  void send(const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      ssize_t n = ::send(connection_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) throw std::runtime_error("peer send failed");
      sent += size_t(n);
    }
  }

  // The next n bytes the host wrote, or fewer when it went quiet for the time-out.
  Bytes take(size_t n, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return received_.size() >= n || ended_; });
    const size_t count = std::min(n, received_.size());
    Bytes out(received_.begin(), received_.begin() + count);
    received_.erase(received_.begin(), received_.begin() + count);
    return out;
  }

  // Everything the host writes until it closes the connection.
  Bytes takeUntilClosed(int timeoutMs = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    arrived_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return ended_; });
    Bytes out;
    out.swap(received_);
    return out;
  }

  // Bytes the host wrote within the given time, without waiting for more.
  Bytes takeWithin(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    std::lock_guard<std::mutex> lock(mutex_);
    Bytes out;
    out.swap(received_);
    return out;
  }

  void closeListener() {
    if (listener_ >= 0) close(listener_);
    listener_ = -1;
  }

  void disconnect() {
    if (connection_ >= 0) {
      shutdown(connection_, SHUT_RDWR);
      if (reader_.joinable()) reader_.join();
      close(connection_);
    }
    connection_ = -1;
  }

 private:
  void readAll(int fd) {
    uint8_t buffer[4096];
    for (;;) {
      ssize_t n = recv(fd, buffer, sizeof(buffer), 0);
      std::lock_guard<std::mutex> lock(mutex_);
      if (n <= 0) {
        ended_ = true;
        arrived_.notify_all();
        return;
      }
      received_.insert(received_.end(), buffer, buffer + n);
      arrived_.notify_all();
    }
  }

  int listener_ = -1;
  int connection_ = -1;
  uint32_t address_ = 0;
  uint16_t port_ = 0;
  std::thread reader_;
  std::mutex mutex_;
  std::condition_variable arrived_;
  Bytes received_;
  bool ended_ = false;
};

#endif
