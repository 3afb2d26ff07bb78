#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "Log.h"

// Collects the trace of the given packages while it lives.
class TraceCapture {
 public:
  explicit TraceCapture(uint32_t packages) : packages_(packages) {
    stream_ = open_memstream(&buffer_, &size_);
    Log::SetOutput(stream_);
    Log::ActivatePackage(packages_);
  }
  ~TraceCapture() {
    Log::DeactivatePackage(packages_);
    Log::SetOutput(nullptr);
    fclose(stream_);
    free(buffer_);
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::string text() {
    fflush(stream_);
    return std::string(buffer_, size_);
  }
  bool has(const std::string& line) { return text().find(line) != std::string::npos; }

 private:
  uint32_t packages_;
  FILE* stream_ = nullptr;
  char* buffer_ = nullptr;
  size_t size_ = 0;
};
