// The program's sources are not a library of their own; the test compiles
// the one it checks.
#include "service/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace service {
namespace {

struct Split {
  std::string text;  // the writable copy the tokens point into
  int count = 0;
  char* table[kMaxTokens] = {};

  explicit Split(const std::string& line) : text(line) {
    SplitCommandLine(text.data(), &count, table);
  }
  std::vector<std::string> Tokens() const {
    std::vector<std::string> tokens;
    for (int i = 0; i < count && i < kMaxTokens; ++i) tokens.push_back(table[i]);
    return tokens;
  }
  bool Foreground() const { return IsForegroundRequest(count, table); }
};

using Tokens = std::vector<std::string>;

// The end-to-end suites start the program with "/d", "/D", a quoted "/d",
// "/d x" and no switch; these are the lines they cannot easily give.
TEST(ServiceCommandLineTest, ChoosesForegroundOnlyForExactlyOneSwitch) {
  EXPECT_TRUE(Split("  schedExe.exe\t/d \r\n").Foreground());

  EXPECT_FALSE(Split("").Foreground());
  EXPECT_FALSE(Split("schedExe.exe /d /d").Foreground());
  EXPECT_FALSE(Split("schedExe.exe /dd").Foreground());
  EXPECT_FALSE(Split("schedExe.exe -d").Foreground());
  EXPECT_FALSE(Split("schedExe.exe /").Foreground());
  // The empty token of "" counts: three tokens.
  EXPECT_FALSE(Split("schedExe.exe \"\"/d").Foreground());
  // Unquoted, the program path with blanks is two tokens.
  EXPECT_FALSE(Split("C:\\Program Files\\schedExe.exe /d").Foreground());
}

TEST(ServiceCommandLineTest, SplitsOnBlanksAndLeadingQuotesOnly) {
  EXPECT_EQ(Split("\"C:\\Program Files\\a.exe\" /d").Tokens(),
            (Tokens{"C:\\Program Files\\a.exe", "/d"}));
  // A quoted part followed directly by text: the rest is a token of its own.
  EXPECT_EQ(Split("p \"ab\"cd ef").Tokens(), (Tokens{"p", "ab", "cd", "ef"}));
  EXPECT_EQ(Split("p \"\"").Tokens(), (Tokens{"p", ""}));
  EXPECT_EQ(Split("p \"\"\"\"").Tokens(), (Tokens{"p", "", ""}));
  EXPECT_EQ(Split("p \"open to the end  ").Tokens(), (Tokens{"p", "open to the end  "}));
  // Inside an unquoted token a quote is an ordinary character.
  EXPECT_EQ(Split("p a\"b c\"").Tokens(), (Tokens{"p", "a\"b", "c\""}));
  // No escapes.
  EXPECT_EQ(Split("p \"a\\\"b\"").Tokens(), (Tokens{"p", "a\\", "b\""}));
  EXPECT_EQ(Split(" \t\n ").Tokens(), Tokens{});
  EXPECT_EQ(Split("\"\"").Tokens(), Tokens{""});
}

// Tokens past the table are counted, not stored. A write past it is for the
// sanitizers to catch: here on the stack, and in fuzz_command_line's "many".
TEST(ServiceCommandLineTest, CountsEveryTokenButStoresOnlyWhatTheTableHolds) {
  char sentinel = 's';
  for (int tokens_on_line : {49, 50, 51, 60}) {
    char* table[kMaxTokens];
    for (char*& p : table) p = &sentinel;
    std::string line = "schedExe.exe";
    for (int i = 1; i < tokens_on_line; ++i) line += " t" + std::to_string(i);
    int count = 0;
    SplitCommandLine(line.data(), &count, table);
    SCOPED_TRACE(tokens_on_line);
    EXPECT_EQ(count, tokens_on_line);
    EXPECT_FALSE(IsForegroundRequest(count, table));
    const int stored = tokens_on_line < kMaxTokens ? tokens_on_line : kMaxTokens;
    EXPECT_STREQ(table[0], "schedExe.exe");
    EXPECT_STREQ(table[stored - 1], ("t" + std::to_string(stored - 1)).c_str());
    for (int i = stored; i < kMaxTokens; ++i) EXPECT_EQ(table[i], &sentinel);
  }
}

}  // namespace
}  // namespace service
