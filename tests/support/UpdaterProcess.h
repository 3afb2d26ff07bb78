#pragma once

#include <map>
#include <string>
#include <vector>

// Runs the built `updater` (or another built program) as a child process, the way an
// operator would, but never against the real home directory.
//
//   UpdaterProcess updater;                       // makes a scratch home directory
//   ProcessResult r = updater.Run({"-G", "-d", "40F5849A", "-u", url});
//   EXPECT_EQ(r.status, 1); EXPECT_NE(r.err.find("..."), std::string::npos);
//
// The child gets stdin from /dev/null, its stdout and stderr captured separately, the
// parent's environment with HOME set to the scratch home, and the scratch home as working
// directory (both changeable). The program looks the home directory up in the user database
// before HOME, so the child always runs as uid/gid kChildId, which has no user-database entry:
// as root by switching to it (the whole scratch home is handed to that uid before every run,
// so files a test seeds there stay usable; anything else the child must read or write, such
// as a umockdev test bed or a serial device, must be accessible to it too); otherwise inside
// a user namespace of its own that maps kChildId to the caller (the run fails with status 127
// when user namespaces are not available, rather than touching the real home).
//
// With SetTerminal(true) the child's stdout is the slave of a pseudo-terminal in raw mode,
// so progress bars and spinners are drawn and arrive byte for byte (no "\r\n" translation).
//
// With MergeStderr(true) stderr goes where stdout goes, so the order of info and error
// lines can be checked; ProcessResult::err then stays empty.
//
// Run() may be called from a multi-threaded test (a fake server on another thread): the
// child does nothing but async-signal-safe calls before exec.
struct ProcessResult {
  int status = -1;        // exit status; -1 when the child died of a signal or timed out
  bool timedOut = false;  // the child was killed after the time-out
  std::string out;        // everything written to stdout
  std::string err;        // everything written to stderr
};

class UpdaterProcess {
 public:
  static constexpr unsigned kChildId = 54321;

  UpdaterProcess();
  ~UpdaterProcess();  // removes the scratch home with everything in it
  UpdaterProcess(const UpdaterProcess&) = delete;
  UpdaterProcess& operator=(const UpdaterProcess&) = delete;

  // The scratch home and the updater store below it (created by the program on first run).
  const std::string& Home() const { return home_; }
  std::string UpdaterDirectory() const { return home_ + "/.halvik/updater"; }

  void SetEnv(const std::string& name, const std::string& value) { env_[name] = value; }
  void SetWorkingDirectory(const std::string& directory) { workingDirectory_ = directory; }
  void SetTerminal(bool terminal) { terminal_ = terminal; }
  void MergeStderr(bool merge) { mergeStderr_ = merge; }
  // Defaults to UPDATER_BINARY_DIR "/updater".
  void SetProgram(const std::string& path) { program_ = path; }
  // The child is killed (SIGKILL) when it runs longer; defaults to 120 seconds.
  void SetTimeoutSeconds(int seconds) { timeoutSeconds_ = seconds; }

  // Runs the program with these arguments (argv[0] is the program path) and waits for it.
  ProcessResult Run(const std::vector<std::string>& arguments) const;

 private:
  std::string home_;
  std::string workingDirectory_;
  std::string program_;
  std::map<std::string, std::string> env_;
  bool terminal_ = false;
  bool mergeStderr_ = false;
  int timeoutSeconds_ = 120;
};
