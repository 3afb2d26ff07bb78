#include "CLI_Display.h"

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

// Points this process's stdout (or stderr) at a raw pseudo-terminal or a pipe for the
// lifetime of the object, and collects what was written there.
class Redirect {
 public:
  Redirect(int fd, bool terminal) : fd_(fd), saved_(dup(fd)) {
    int ends[2];
    if (terminal) {
      struct termios raw {};
      cfmakeraw(&raw);
      EXPECT_EQ(openpty(&ends[0], &ends[1], nullptr, &raw, nullptr), 0);
    } else {
      EXPECT_EQ(pipe(ends), 0);
    }
    reader_ = ends[0];
    writer_ = ends[1];
    fcntl(reader_, F_SETFL, O_NONBLOCK);
    dup2(writer_, fd_);
  }
  ~Redirect() {
    Restore();
    close(reader_);
    close(writer_);
  }
  // Puts the original stream back and answers everything written meanwhile.
  std::string Take() {
    Restore();
    std::string text;
    char buffer[4096];
    ssize_t count;
    while ((count = read(reader_, buffer, sizeof buffer)) > 0) text.append(buffer, count);
    return text;
  }

 private:
  void Restore() {
    if (saved_ < 0) return;
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
  }
  int fd_;
  int saved_;
  int reader_ = -1;
  int writer_ = -1;
};

const std::string kClear = "\r" + std::string(88, ' ') + "\r";

TEST(CLIDisplayProgress, DrawsTheBarOnATerminal) {
  CLI_Display display;
  struct Case {
    double fraction;
    const char* label;
    std::string expected;
  };
  const Case cases[] = {
      {0.5, nullptr, "\r[" + std::string(34, '=') + ">" + std::string(34, ' ') + "] ( 50% ) "},
      {1.0, nullptr, "\r[" + std::string(69, '=') + "> ] (100% ) "},
      {0.0, nullptr, "\r[>" + std::string(68, ' ') + "] (  0% ) "},
      // 69 - 4 - 4 = 61 columns; 0.25 fills 15 of them.
      {0.25, "DATA", "\r (DATA) [" + std::string(15, '=') + ">" + std::string(45, ' ') +
                         "] ( 25% ) "},
  };
  for (const Case& c : cases) {
    Redirect out(STDOUT_FILENO, true);
    display.update_progress(c.fraction, c.label);
    EXPECT_EQ(out.Take(), c.expected) << c.fraction;
  }
  Redirect out(STDOUT_FILENO, true);
  display.display_progress(true);
  display.display_progress(false);
  EXPECT_EQ(out.Take(), kClear);
}

TEST(CLIDisplayProgress, OversizedLabelOrFractionStillDrawsOneFrame) {
  CLI_Display display;
  Redirect out(STDOUT_FILENO, true);
  display.update_progress(0.5, std::string(80, 'L').c_str());
  display.update_progress(7.0, nullptr);
  display.update_progress(-1.0, nullptr);
  const std::string text = out.Take();
  EXPECT_NE(text.find("(" + std::string(80, 'L') + ")"), std::string::npos);
  EXPECT_NE(text.find("(100% )"), std::string::npos);
  EXPECT_NE(text.find("(  0% )"), std::string::npos);
}

const char* const kFrames[] = {".", "..", "...", "....", ".....", "....", "...", ".."};

std::string Frame(const char* frame, const char* label = nullptr) {
  return label == nullptr ? std::string("\r ") + frame + "      \r"
                          : std::string("\r (") + label + ") " + frame + "      \r";
}

// The spinner position is shared by every display; turn it back to the first frame.
void SpinToFirstFrame(CLI_Display& display) {
  Redirect out(STDOUT_FILENO, true);
  for (int i = 0; i < 8; ++i) display.update_spinner(true, nullptr);
  const std::string drawn = out.Take();
  for (int offset = 0; offset < 8; ++offset) {
    std::string rotation;
    for (int i = 0; i < 8; ++i) rotation += Frame(kFrames[(offset + i) % 8]);
    if (rotation != drawn) continue;
    Redirect discard(STDOUT_FILENO, true);
    for (int i = 0; i < (8 - offset) % 8; ++i) display.update_spinner(true, nullptr);
    return;
  }
  FAIL() << "spinner frames out of order: " << drawn;
}

TEST(CLIDisplaySpinner, CyclesEightFramesAndClearsWithoutAdvancing) {
  CLI_Display display;
  SpinToFirstFrame(display);
  Redirect out(STDOUT_FILENO, true);
  for (int i = 0; i < 9; ++i) display.update_spinner(true, nullptr);
  display.update_spinner(true, "GET");
  display.update_spinner(false, "GET");
  display.update_spinner(true, nullptr);
  std::string expected;
  for (int i = 0; i < 9; ++i) expected += Frame(kFrames[i % 8]);
  expected += Frame("..", "GET") + kClear + Frame("...");
  EXPECT_EQ(out.Take(), expected);
}

TEST(CLIDisplay, AnimationsOnlyOnATerminalMessagesAlways) {
  CLI_Display display;
  Redirect out(STDOUT_FILENO, false);
  Redirect err(STDERR_FILENO, false);
  display.update_progress(0.5, nullptr);
  display.update_spinner(true, "x");
  display.update_spinner(false, nullptr);
  display.display_progress(false);
  display.message(UpdaterDisplayInterface::INFO, "Retrieving build %u", 12u);
  display.message(UpdaterDisplayInterface::ERROR, "No valid build %u", 12u);
  EXPECT_EQ(out.Take(), "Retrieving build 12\n");
  EXPECT_EQ(err.Take(), "No valid build 12\n");
}

TEST(CLIDisplay, MutedDisplayStillDrawsProgress) {
  CLI_Display display;
  Redirect out(STDOUT_FILENO, true);
  display.mute_messages(true);
  display.message(UpdaterDisplayInterface::INFO, "hidden");
  display.update_progress(1.0, nullptr);
  display.mute_messages(false);
  display.message(UpdaterDisplayInterface::INFO, "shown %s", "%d");
  EXPECT_EQ(out.Take(), "\r[" + std::string(69, '=') + "> ] (100% ) shown %d\n");
}

TEST(CLIDisplay, LongMessagesAreCut) {
  CLI_Display display;
  Redirect out(STDOUT_FILENO, false);
  display.message(UpdaterDisplayInterface::INFO, "%s", std::string(5000, 'm').c_str());
  EXPECT_EQ(out.Take(), std::string(2047, 'm') + "\n");
}

}  // namespace
