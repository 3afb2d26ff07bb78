#include "path.h"

#include <gtest/gtest.h>

#include <string>

TEST(BuildPath, PutsOneSeparatorBeforeEveryLaterComponent) {
  const std::string home = "/tmp/home";
  EXPECT_EQ(BuildPath(home, ".halvik", "updater"), "/tmp/home/.halvik/updater");
  EXPECT_EQ(BuildPath("only"), "only");
  EXPECT_EQ(BuildPath("a", std::string("b"), "c", "d", "e", "f", "g", "h", "i", "j", "k"),
            "a/b/c/d/e/f/g/h/i/j/k");
  // Separators already present are kept, so doubled ones show.
  EXPECT_EQ(BuildPath("a/", "/b"), "a///b");
  EXPECT_EQ(BuildPath("", "x"), "/x");
}
