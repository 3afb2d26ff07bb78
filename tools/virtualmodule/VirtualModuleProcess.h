#pragma once
#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace virtualmodule {

// Runs the virtual-module program as a child for end-to-end tests: starts it with the given
// arguments, waits for its "ready ADDR:PORT" line and ends it with SIGTERM when destroyed.
//
//   VirtualModuleProcess module(UPDATER_BINARY_DIR "/virtual-module",
//                               {"--address", "127.0.0.7", "--port", "0", "--serial", "40F5849A"});
//   // module.port() is the TCP port it took
class VirtualModuleProcess {
 public:
  // Throws std::runtime_error when the program can't be started or doesn't get ready in time.
  VirtualModuleProcess(const std::string& program, const std::vector<std::string>& arguments,
                       int readySeconds = 10);
  ~VirtualModuleProcess();
  VirtualModuleProcess(const VirtualModuleProcess&) = delete;
  VirtualModuleProcess& operator=(const VirtualModuleProcess&) = delete;

  const std::string& address() const { return address_; }
  uint16_t port() const { return port_; }
  pid_t pid() const { return pid_; }

  // Sends SIGTERM and waits; the exit status, or -1 when it had to be killed or died of a signal.
  int stop();

 private:
  pid_t pid_ = -1;
  int output_ = -1;
  std::string address_;
  uint16_t port_ = 0;
  int status_ = -1;
};

}  // namespace virtualmodule
