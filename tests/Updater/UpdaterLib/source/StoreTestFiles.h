#pragma once

// Scratch directories, file helpers and trace capture for the firmware-file and store tests.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <dirent.h>

#include "Log.h"

// A fresh directory under /tmp, removed with everything in it afterwards.
class ScratchDirectory {
 public:
  ScratchDirectory() : ScratchDirectory("store") {}
  explicit ScratchDirectory(const std::string& tag) {
    std::string pattern = "/tmp/bird-" + tag + "-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("no scratch directory");
    path_ = pattern;
  }
  ~ScratchDirectory() {
    std::string command = "rm -rf '" + path_ + "'";
    if (system(command.c_str()) != 0) {
      // Leftovers in /tmp are harmless; the test result stands.
    }
  }
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

inline void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline std::vector<std::string> EntryNames(const std::string& directory) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(directory.c_str())) {
    while (dirent* entry = readdir(dir)) {
      std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

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
