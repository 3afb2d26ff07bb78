#include "UpdaterProcess.h"

#include <fcntl.h>
#include <ftw.h>
#include <grp.h>
#include <sched.h>
#include <poll.h>
#include <pty.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace {

bool sRunningAsRoot() { return geteuid() == 0; }

int sChownEntry(const char* path, const struct stat*, int, struct FTW*) {
  // A failure shows up later as the child's own error on that file.
  (void)lchown(path, UpdaterProcess::kChildId, UpdaterProcess::kChildId);
  return 0;
}

int sRemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

// argv/envp as C arrays, built before fork so the child allocates nothing.
struct CStrings {
  explicit CStrings(const std::vector<std::string>& texts) : texts(texts) {
    for (const std::string& text : this->texts) pointers.push_back(const_cast<char*>(text.c_str()));
    pointers.push_back(nullptr);
  }
  std::vector<std::string> texts;
  std::vector<char*> pointers;
};

std::vector<std::string> sChildEnvironment(const std::string& home,
                                           const std::map<std::string, std::string>& extra) {
  std::map<std::string, std::string> merged;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const char* equals = strchr(*entry, '=');
    if (equals == nullptr) continue;
    merged[std::string(*entry, static_cast<size_t>(equals - *entry))] = equals + 1;
  }
  merged["HOME"] = home;
  for (const auto& [name, value] : extra) merged[name] = value;
  std::vector<std::string> environment;
  for (const auto& [name, value] : merged) environment.push_back(name + "=" + value);
  return environment;
}

// Reads whatever is ready on fd into sink; false once the writer side is gone.
bool sDrain(int fd, std::string& sink) {
  char buffer[4096];
  for (;;) {
    ssize_t count = read(fd, buffer, sizeof buffer);
    if (count > 0) {
      sink.append(buffer, static_cast<size_t>(count));
      continue;
    }
    if (count < 0 && errno == EINTR) continue;
    if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    return false;  // end of file, or EIO on a pty master whose slave is closed
  }
}

// Writes text to an existing file; async-signal-safe, for the child.
bool sWriteFile(const char* path, const std::string& text) {
  int fd = open(path, O_WRONLY);
  if (fd < 0) return false;
  const bool written = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  close(fd);
  return written;
}

[[noreturn]] void sChildFail(int fd, const char* what) {
  (void)!write(fd, what, strlen(what));
  _exit(127);
}

}  // namespace

UpdaterProcess::UpdaterProcess() : program_(UPDATER_BINARY_DIR "/updater") {
  if (sRunningAsRoot() && getpwuid(kChildId) != nullptr) {
    throw std::runtime_error("uid chosen for test children has a user-database entry");
  }
  char pattern[] = "/tmp/updater-home-XXXXXX";
  if (mkdtemp(pattern) == nullptr) throw std::runtime_error("cannot create a scratch home");
  home_ = pattern;
  workingDirectory_ = home_;
}

UpdaterProcess::~UpdaterProcess() {
  nftw(home_.c_str(), sRemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

ProcessResult UpdaterProcess::Run(const std::vector<std::string>& arguments) const {
  std::vector<std::string> argvTexts{program_};
  argvTexts.insert(argvTexts.end(), arguments.begin(), arguments.end());
  CStrings argv(argvTexts);
  CStrings envp(sChildEnvironment(home_, env_));
  const bool dropToChildId = sRunningAsRoot();
  if (dropToChildId) nftw(home_.c_str(), sChownEntry, 16, FTW_PHYS);
  // Without root the child becomes kChildId inside a user namespace of its own instead.
  const std::string uidMap = std::to_string(kChildId) + " " + std::to_string(getuid()) + " 1";
  const std::string gidMap = std::to_string(kChildId) + " " + std::to_string(getgid()) + " 1";

  int outPipe[2] = {-1, -1};
  int errPipe[2] = {-1, -1};
  if (pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  if (terminal_) {
    struct termios raw;
    memset(&raw, 0, sizeof raw);
    cfmakeraw(&raw);
    if (openpty(&outPipe[0], &outPipe[1], nullptr, &raw, nullptr) != 0) {
      throw std::runtime_error("openpty failed");
    }
    fcntl(outPipe[0], F_SETFD, FD_CLOEXEC);
    fcntl(outPipe[1], F_SETFD, FD_CLOEXEC);
  } else if (pipe2(outPipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("pipe failed");
  }
  int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);

  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    // Only async-signal-safe calls from here to exec.
    if (dup2(devNull, STDIN_FILENO) < 0 || dup2(outPipe[1], STDOUT_FILENO) < 0 ||
        dup2(mergeStderr_ ? outPipe[1] : errPipe[1], STDERR_FILENO) < 0) {
      sChildFail(errPipe[1], "child: dup2 failed\n");
    }
    if (chdir(workingDirectory_.c_str()) != 0) sChildFail(STDERR_FILENO, "child: chdir failed\n");
    if (dropToChildId) {
      if (setgroups(0, nullptr) != 0 || setgid(kChildId) != 0 || setuid(kChildId) != 0) {
        sChildFail(STDERR_FILENO, "child: cannot drop to the scratch uid\n");
      }
    } else if (unshare(CLONE_NEWUSER) != 0 || !sWriteFile("/proc/self/setgroups", "deny") ||
               !sWriteFile("/proc/self/uid_map", uidMap) ||
               !sWriteFile("/proc/self/gid_map", gidMap)) {
      // Going on would let the program find the caller's real home in the user database.
      sChildFail(STDERR_FILENO, "child: cannot enter a user namespace for the scratch uid\n");
    }
    execve(argv.pointers[0], argv.pointers.data(), envp.pointers.data());
    sChildFail(STDERR_FILENO, "child: exec failed\n");
  }

  close(devNull);
  close(outPipe[1]);
  close(errPipe[1]);
  fcntl(outPipe[0], F_SETFL, O_NONBLOCK);
  fcntl(errPipe[0], F_SETFL, O_NONBLOCK);

  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds_);
  bool outOpen = true;
  bool errOpen = true;
  while (outOpen || errOpen) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      kill(pid, SIGKILL);
      result.timedOut = true;
      break;
    }
    struct pollfd fds[2] = {{outOpen ? outPipe[0] : -1, POLLIN, 0},
                            {errOpen ? errPipe[0] : -1, POLLIN, 0}};
    int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (outOpen && fds[0].revents != 0) outOpen = sDrain(outPipe[0], result.out);
    if (errOpen && fds[1].revents != 0) errOpen = sDrain(errPipe[0], result.err);
  }
  close(outPipe[0]);
  close(errPipe[0]);

  int waitStatus = 0;
  while (waitpid(pid, &waitStatus, 0) < 0 && errno == EINTR) {
  }
  if (!result.timedOut && WIFEXITED(waitStatus)) result.status = WEXITSTATUS(waitStatus);
  return result;
}
