#include "base/vlog.h"

#include "gtest/gtest.h"

namespace logging {
namespace {

TEST(VlogTest, PatternMatching) {
  const struct {
    const char* text;
    const char* pattern;
    bool expected;
  } kCases[] = {
      {"net_installer", "net_installer", true},
      {"net_installer", "net_install", false},   // The whole text must match.
      {"net_installer", "Net_installer", false},  // Case-sensitive.
      {"net_installer", "net*", true},
      {"net_installer", "*installer", true},
      {"net_installer", "*", true},
      {"", "*", true},
      {"", "?", false},
      {"net_installer", "net?installer", true},
      {"net_installer", "n*t*r", true},
      {"net_installer", "n*x*r", false},
      {"a/b/c.cc", "a\\b\\c.cc", true},  // Either separator matches either.
      {"a\\b\\c.cc", "*/b/*", true},
      {"a\\b\\c.cc", "*/b", false},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*c", false},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(std::string(test.text) + " ~ " + test.pattern);
    EXPECT_EQ(test.expected, MatchVlogPattern(test.text, test.pattern));
  }
}

TEST(VlogTest, ModuleName) {
  EXPECT_EQ("net_installer",
            GetVlogModuleName("desktop/launcher/installer/net_installer/net_installer.cc"));
  EXPECT_EQ("foo", GetVlogModuleName("C:\\src\\foo-inl.h"));
  EXPECT_EQ("a.b", GetVlogModuleName("x/a.b.cc"));
  EXPECT_EQ("plain", GetVlogModuleName("plain"));
}

TEST(VlogTest, GlobalLevelFromV) {
  int min_log_level = 0;
  VlogInfo info("2", "", &min_log_level);
  EXPECT_EQ(-2, min_log_level);
  EXPECT_EQ(2, info.GetVlogLevel("any/file.cc"));
}

TEST(VlogTest, UnparsableVLeavesTheMinimumAlone) {
  int min_log_level = 0;
  VlogInfo info("one", "", &min_log_level);
  EXPECT_EQ(0, min_log_level);
  EXPECT_EQ(0, info.GetVlogLevel("any/file.cc"));
}

TEST(VlogTest, ModulePatternsInOrder) {
  int min_log_level = 0;
  VlogInfo info("1",
                "net_installer=2,wininet_*=3,*/ui/*=4,bad=x,partial=5x,noequals",
                &min_log_level);
  const struct {
    const char* file;
    int expected;
  } kCases[] = {
      {"desktop/net_installer/net_installer.cc", 2},
      {"desktop\\net_installer\\net_installer.cc", 2},
      {"desktop/net_installer/wininet_downloader.cc", 3},
      {"desktop/ui/progress_dialog.cc", 4},   // Whole-path pattern.
      {"desktop\\ui\\progress_dialog.cc", 4},
      {"ui/progress_dialog.cc", 1},           // "*/" needs text before "ui".
      {"src/bad.cc", 0},                      // Unparsable level reads as 0.
      {"src/partial.cc", 5},                  // A parsed prefix is kept.
      {"src/noequals.cc", 1},                 // No '=': not a pattern.
      {"src/other.cc", 1},                    // Falls back to "v".
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.file);
    EXPECT_EQ(test.expected, info.GetVlogLevel(test.file));
  }
}

TEST(VlogTest, FirstMatchingPatternWins) {
  int min_log_level = 0;
  VlogInfo info("", "net*=1,net_installer=2", &min_log_level);
  EXPECT_EQ(1, info.GetVlogLevel("x/net_installer.cc"));
  EXPECT_EQ(0, info.GetVlogLevel("x/other.cc"));
}

}  // namespace
}  // namespace logging
