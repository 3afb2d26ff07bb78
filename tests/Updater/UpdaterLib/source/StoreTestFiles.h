#pragma once

// Scratch directories and file helpers for the firmware-file and store tests.

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <vector>

#include <dirent.h>

#include "Log.h"
#include "TraceCapture.h"

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

