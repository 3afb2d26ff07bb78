#include "AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kNameAttempts = 100;

// Created with 0666 so that the process umask applies as it would to a plain fopen.
int _create_temporary(const std::string& path, std::string& temporary) {
  static std::atomic<unsigned> counter{0};
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    temporary = path + ".tmp." + std::to_string(getpid()) + "." + std::to_string(counter++);
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool _write_all(int fd, const char* bytes, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      if (written == 0) errno = ENOSPC;
      return false;
    }
    bytes += written;
    length -= size_t(written);
  }
  return true;
}
}  // namespace

AtomicWriteResult WriteFileAtomically(const std::string& path, const void* data, size_t length,
                                      int* errorNumber) {
  std::string temporary;
  int fd = _create_temporary(path, temporary);
  if (fd < 0) {
    if (errorNumber) *errorNumber = errno;
    return AtomicWriteResult::OpenFailed;
  }
  bool ok = _write_all(fd, static_cast<const char*>(data), length) && fsync(fd) == 0;
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  AtomicWriteResult result = ok ? AtomicWriteResult::Written : AtomicWriteResult::WriteFailed;
  // A target that can't be replaced (a directory, say) is as good as one that can't be opened.
  if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
    result = AtomicWriteResult::OpenFailed;
    error = errno;
  }
  if (result != AtomicWriteResult::Written) {
    unlink(temporary.c_str());
    if (errorNumber) *errorNumber = error;
  }
  return result;
}
