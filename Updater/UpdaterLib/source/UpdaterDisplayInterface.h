#pragma once

#include <cstdarg>
#include <cstdio>

// The sink for every operator message, progress bar and spinner of the updater core. The
// core never prints directly, so the same operations can drive a terminal or a test double.
class UpdaterDisplayInterface {
 public:
  enum Level { INFO = 0, ERROR = 1 };

  // Start (true) or end (false) a progress display.
  virtual void display_progress(bool show) = 0;
  // Draw the progress bar at fraction 0.0 to 1.0; label may be null.
  virtual void update_progress(double fraction, const char* label) = 0;
  // Advance the spinner (true) or clear it (false); label may be null.
  virtual void update_spinner(bool active, const char* label) = 0;
  virtual void info_message(const char* text) = 0;
  virtual void error_message(const char* text) = 0;

  // Formats one line (cut to 2047 characters) and hands it to error_message for ERROR,
  // to info_message for any other level. Does nothing while muted.
  void message(int level, const char* format, ...) __attribute__((format(printf, 3, 4))) {
    if (muted) return;
    char text[kMessageBuffer];
    va_list arguments;
    va_start(arguments, format);
    int written = vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (written < 0) text[0] = '\0';
    if (level == ERROR) {
      error_message(text);
    } else {
      info_message(text);
    }
  }

  // Silences message() only; progress and spinner still draw.
  void mute_messages(bool mute) { muted = mute; }

 protected:
  UpdaterDisplayInterface() = default;
  // Never deleted through the base, hence not virtual; protected so that it can't be.
  ~UpdaterDisplayInterface() = default;

 private:
  static constexpr size_t kMessageBuffer = 2048;
  bool muted = false;
};
