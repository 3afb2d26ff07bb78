#pragma once

#include "UpdaterDisplayInterface.h"

// The terminal display: messages to stdout (INFO) and stderr (ERROR); the progress bar
// and spinner only when stdout is a terminal, so redirected output stays clean text.
class CLI_Display : public UpdaterDisplayInterface {
 public:
  // Makes stdout and stderr unbuffered so lines and carriage-return animations show at once.
  CLI_Display();

  void display_progress(bool show) override;
  void update_progress(double fraction, const char* label) override;
  void update_spinner(bool active, const char* label) override;
  void info_message(const char* text) override;
  void error_message(const char* text) override;
};
