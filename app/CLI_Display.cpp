#include "CLI_Display.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kClearWidth = 88;
constexpr int kBarWidth = 69;
constexpr int kLabelFrame = 4;  // " (" and ") " around a label
const char kBar[] = "=====================================================================";
static_assert(sizeof kBar - 1 == kBarWidth, "bar text must fill the bar");

const char* const kSpinnerFrames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};

bool _stdout_is_terminal() { return isatty(STDOUT_FILENO) == 1; }

void _clear_line() { printf("\r%*s\r", kClearWidth, " "); }

}  // namespace

CLI_Display::CLI_Display() {
  setvbuf(stdout, nullptr, _IONBF, 0);
  setvbuf(stderr, nullptr, _IONBF, 0);
}

void CLI_Display::display_progress(bool show) {
  if (!show && _stdout_is_terminal()) _clear_line();
}

void CLI_Display::update_progress(double fraction, const char* label) {
  if (!_stdout_is_terminal()) return;
  int width = kBarWidth;
  if (label != nullptr) width -= static_cast<int>(strlen(label)) + kLabelFrame;
  // A label too long for the bar, or a fraction outside 0..1, still draws a sane frame.
  if (width < 1) width = 1;
  if (!(fraction >= 0.0)) fraction = 0.0;
  if (fraction > 1.0) fraction = 1.0;
  const int percent = static_cast<int>(fraction * 100.0);
  const int filled = static_cast<int>(width * fraction);
  if (label == nullptr) {
    printf("\r[%.*s>%*s] (%3d%% ) ", filled, kBar, width - filled - 1, "", percent);
  } else {
    printf("\r (%s) [%.*s>%*s] (%3d%% ) ", label, filled, kBar, width - filled - 1, "", percent);
  }
}

void CLI_Display::update_spinner(bool active, const char* label) {
  static uint8_t count = 0;
  if (!_stdout_is_terminal()) return;
  if (!active) {
    _clear_line();
    return;
  }
  if (label == nullptr) {
    printf("\r %s      \r", kSpinnerFrames[count]);
  } else {
    printf("\r (%s) %s      \r", label, kSpinnerFrames[count]);
  }
  count = (count + 1) & 7;
}

void CLI_Display::info_message(const char* text) { printf("%s\n", text); }

void CLI_Display::error_message(const char* text) { fprintf(stderr, "%s\n", text); }
