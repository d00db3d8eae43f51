// The log's levels, its line forms and what it does to awkward texts.
#include "platform/log.h"

#include <gtest/gtest.h>

#include "platform/text.h"
#include "support/log_capture.h"

namespace platform {
namespace {

TEST(LogTest, LevelsParseAndFilter) {
  const struct {
    const char* text;
    bool known;
    LogLevel level;
  } cases[] = {{"error", true, LogLevel::kError},   {"WARNING", true, LogLevel::kWarning},
               {"Notice", true, LogLevel::kNotice}, {"info", true, LogLevel::kInfo},
               {"debug", true, LogLevel::kDebug},   {"", false, LogLevel::kError},
               {"warn", false, LogLevel::kError},   {"debug ", false, LogLevel::kError}};
  for (const auto& c : cases) {
    LogLevel level = LogLevel::kError;
    EXPECT_EQ(ParseLogLevel(c.text, &level), c.known) << c.text;
    if (c.known) {
      EXPECT_EQ(level, c.level) << c.text;
      EXPECT_TRUE(EqualsIgnoreCase(LogLevelName(level), c.text)) << c.text;
    }
  }
  // Off until a sink is set: tools that share the code write nothing.
  EXPECT_FALSE(LogEnabled(LogLevel::kError));
  {
    testsupport::LogCapture capture(LogLevel::kWarning);
    for (LogLevel l : {LogLevel::kError, LogLevel::kWarning, LogLevel::kNotice, LogLevel::kInfo,
                       LogLevel::kDebug}) {
      Log(l, LogLevelName(l));
    }
    LogParts(LogLevel::kWarning, "slot ", std::to_string(3), " ", std::string("x"));
    LogParts(LogLevel::kNotice, "not built");
    EXPECT_EQ(capture.Lines(),
              (std::vector<std::string>{"error: error", "warning: warning", "warning: slot 3 x"}));
  }
  EXPECT_FALSE(LogEnabled(LogLevel::kError));
  Log(LogLevel::kError, "nowhere");  // no sink: nothing happens
}

TEST(LogTest, EveryTextBecomesOneBoundedLine) {
  testsupport::LogCapture capture;
  Log(LogLevel::kError, std::string("a\nb\r\tc\0d\x7f", 9));
  const std::string long_ascii(5000, 'x');
  Log(LogLevel::kError, long_ascii);
  // "é" is two bytes: a cut inside one would leave half a character.
  std::string accented(kLogTextLimit - 4, 'y');
  for (int i = 0; i < 10; ++i) accented += "\xc3\xa9";
  Log(LogLevel::kError, accented);
  const auto lines = capture.Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], std::string("error: a b  c d ", 16));
  EXPECT_EQ(lines[1].size(), std::string("error: ").size() + kLogTextLimit);
  EXPECT_EQ(lines[1].substr(lines[1].size() - 4), "x...");
  const std::string cut = lines[2].substr(0, lines[2].size() - 3);
  EXPECT_EQ(lines[2].substr(lines[2].size() - 3), "...");
  EXPECT_LE(lines[2].size(), std::string("error: ").size() + kLogTextLimit);
  EXPECT_NE(static_cast<unsigned char>(cut.back()), 0xc3u) << "half a character left";
}

TEST(LogTest, StandardErrorLinesForTheJournalAndForATerminal) {
  std::tm local{};
  local.tm_year = 2026 - 1900;
  local.tm_mon = 11;
  local.tm_mday = 7;
  local.tm_hour = 2;
  local.tm_min = 5;
  local.tm_sec = 9;
  const struct {
    LogLevel level;
    const char* journal;
    const char* terminal;
  } cases[] = {{LogLevel::kError, "<3>t\n", "2026-12-07 02:05:09 error: t\n"},
               {LogLevel::kWarning, "<4>t\n", "2026-12-07 02:05:09 warning: t\n"},
               {LogLevel::kNotice, "<5>t\n", "2026-12-07 02:05:09 notice: t\n"},
               {LogLevel::kInfo, "<6>t\n", "2026-12-07 02:05:09 info: t\n"},
               {LogLevel::kDebug, "<7>t\n", "2026-12-07 02:05:09 debug: t\n"}};
  for (const auto& c : cases) {
    EXPECT_EQ(StandardErrorLine(c.level, "t", true, local), c.journal);
    EXPECT_EQ(StandardErrorLine(c.level, "t", false, local), c.terminal);
  }
  EXPECT_FALSE(OsErrorText(2).empty());
}

}  // namespace
}  // namespace platform
