#include "VirtualModuleProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace virtualmodule {

namespace {

// Reads the child's output until the ready line; the rest of its output is not looked at.
std::string readyLine(int fd, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  std::string text;
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw std::runtime_error("virtual-module did not get ready");
    pollfd poller{fd, POLLIN, 0};
    if (poll(&poller, 1, int(left.count())) <= 0) continue;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) throw std::runtime_error("virtual-module ended before it got ready");
    text.append(buffer, size_t(n));
  }
  return text.substr(0, text.find('\n'));
}

}  // namespace

VirtualModuleProcess::VirtualModuleProcess(const std::string& program, const std::vector<std::string>& arguments,
                                           int readySeconds) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  const int error = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  output_ = fds[0];
  if (error != 0) {
    close(output_);
    throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
  }
  try {
    const std::string line = readyLine(output_, readySeconds);
    const size_t colon = line.rfind(':');
    if (line.compare(0, 6, "ready ") != 0 || colon == std::string::npos)
      throw std::runtime_error("unexpected first line from virtual-module: " + line);
    address_ = line.substr(6, colon - 6);
    port_ = uint16_t(std::stoul(line.substr(colon + 1)));
  } catch (...) {
    stop();
    close(output_);
    throw;
  }
}

VirtualModuleProcess::~VirtualModuleProcess() {
  stop();
  close(output_);
}

int VirtualModuleProcess::stop() {
  if (pid_ <= 0) return status_;
  kill(pid_, SIGTERM);
  int status = 0;
  pid_t ended = 0;
  for (int i = 0; i < 500 && (ended = waitpid(pid_, &status, WNOHANG)) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (ended == 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
    status_ = -1;
  } else {
    status_ = ended > 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  pid_ = -1;
  return status_;
}

}  // namespace virtualmodule
