#pragma once

#include <string>
#include <vector>

#include "UpdaterDisplayInterface.h"

// A display for in-process tests: keeps every message and every progress and spinner call,
// so a test can check what an operation told the operator without a terminal.
class RecordingDisplay : public UpdaterDisplayInterface {
 public:
  struct Line {
    int level;
    std::string text;
  };

  void display_progress(bool show) override { progressShown.push_back(show); }
  void update_progress(double fraction, const char*) override { progress.push_back(fraction); }
  void update_spinner(bool active, const char*) override {
    spinner.push_back(active);
  }
  void info_message(const char* text) override { lines.push_back({INFO, text}); }
  void error_message(const char* text) override { lines.push_back({ERROR, text}); }

  // The texts of one level, in order.
  std::vector<std::string> Texts(int level) const {
    std::vector<std::string> texts;
    for (const Line& line : lines) {
      if (line.level == level) texts.push_back(line.text);
    }
    return texts;
  }

  std::vector<Line> lines;
  std::vector<bool> progressShown;
  std::vector<double> progress;
  std::vector<bool> spinner;
};
