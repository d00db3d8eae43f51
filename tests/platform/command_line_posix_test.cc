// Windows command lines on Linux: the program CreateProcessA would pick and
// the arguments a Microsoft C runtime program would see.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/command_line.h"
#include "platform/process_info.h"
#include "platform/testing.h"
#include "service/command_line.h"
#include "support/scratch_dir.h"

namespace platform::posix {
namespace {

using Args = std::vector<std::string>;

// What a Linux process takes for its command line is what Windows would
// give it: argv quoted the Windows way. The mode choice reads it as on
// Windows.
TEST(CommandLinePosixTest, OwnCommandLineIsTheOneWindowsWouldGive) {
  const auto own = [](Args argv) {
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    return OwnCommandLine(static_cast<int>(pointers.size()), pointers.data());
  };
  const auto foreground = [](std::string line) {
    int count = 0;
    char* table[service::kMaxTokens];
    service::SplitCommandLine(line.data(), &count, table);
    return service::IsForegroundRequest(count, table);
  };
  const struct {
    Args argv;
    std::string line;
    bool foreground;
  } cases[] = {
      {{"/opt/my dir/schedExe", "/d"}, R"("/opt/my dir/schedExe" /d)", true},
      {{"schedExe", "/D"}, "schedExe /D", true},
      {{"schedExe", "/d", ""}, R"(schedExe /d "")", false},
      {{"schedExe", " /d"}, R"(schedExe " /d")", false},
      {{"schedExe", "/d "}, R"(schedExe "/d ")", false},
      {{"schedExe", R"(a\"b)", R"(c\)"}, R"(schedExe "a\\\"b" c\)", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(own(c.argv), c.line);
    // A program started with it would see this argv again.
    const ProgramChoice first = ProgramChoices(c.line).front();
    Args split = SplitArguments(first.rest);
    split.insert(split.begin(), first.name);
    EXPECT_EQ(split, c.argv) << c.line;
    EXPECT_EQ(foreground(c.line), c.foreground) << c.line;
  }
}

TEST(CommandLinePosixTest, SplitsArgumentsLikeTheCRuntime) {
  EXPECT_EQ(SplitArguments(""), Args{});
  EXPECT_EQ(SplitArguments(" \t "), Args{});
  EXPECT_EQ(SplitArguments("  a\t b  "), (Args{"a", "b"}));
  // Backslashes count only before a quote.
  EXPECT_EQ(SplitArguments(R"(a\\"b c")"), (Args{R"(a\b c)"}));
  EXPECT_EQ(SplitArguments(R"(a\\\"b)"), (Args{R"(a\"b)"}));
  EXPECT_EQ(SplitArguments(R"("C:\dir\\" next)"), (Args{R"(C:\dir\)", "next"}));
  // "" inside quotes is a quote and the quotes go on.
  EXPECT_EQ(SplitArguments(R"("a""b c" d)"), (Args{R"(a"b c)", "d"}));
  EXPECT_EQ(SplitArguments(R"(x"y z"w "open end)"), (Args{"xy zw", "open end"}));
}

class ResolveTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.empty());
    std::filesystem::create_directories(dir_ + "/my agent/KVClient");
    MakeFile(program_, 0755);
    MakeFile(dir_ + "/my", 0644);  // a first prefix that is no program
  }
  void TearDown() override { std::filesystem::current_path(cwd_); }
  static void MakeFile(const std::string& path, mode_t mode) {
    std::ofstream(path) << "#!/bin/sh\n";
    chmod(path.c_str(), mode);
  }

  const std::filesystem::path cwd_ = std::filesystem::current_path();
  testsupport::ScratchDir scratch_{"resolve"};
  const std::string& dir_ = scratch_.dir();
  const std::string program_ = dir_ + "/my agent/KVClient/DmiSetValue";
};

TEST_F(ResolveTest, FirstExecutablePrefixWins) {
  ResolvedCommand command;
  const std::string written = dir_ + R"(/my agent\KVClient\DmiSetValue)";
  ASSERT_TRUE(ResolveCommandLine(written + R"( "x y" 7)", &command));
  EXPECT_EQ(command.path, program_);
  EXPECT_EQ(command.argv, (Args{written, "x y", "7"}));

  // Folders, plain files and missing files are no programs.
  EXPECT_FALSE(ResolveCommandLine(dir_ + "/my agent/KVClient", &command));
  EXPECT_FALSE(ResolveCommandLine(dir_ + "/missing a b", &command));

  // Once the shorter prefix names a program, it is the one started.
  chmod((dir_ + "/my").c_str(), 0755);
  ASSERT_TRUE(ResolveCommandLine(written + R"( "x y" 7)", &command));
  EXPECT_EQ(command.path, dir_ + "/my");
  EXPECT_EQ(command.argv, (Args{dir_ + "/my", R"(agent\KVClient\DmiSetValue)", "x y", "7"}));

  // Quoted, only the quoted name is tried; without its closing quote the
  // quote is part of every name tried.
  ASSERT_TRUE(ResolveCommandLine("\"" + program_ + "\" 1", &command));
  EXPECT_EQ(command.argv, (Args{program_, "1"}));
  EXPECT_FALSE(ResolveCommandLine("\"" + dir_ + "/my agent\" KVClient", &command));
  EXPECT_FALSE(ResolveCommandLine("\"" + program_, &command));
}

TEST_F(ResolveTest, RelativeAndBareNames) {
  ASSERT_EQ(chdir((dir_ + "/my agent/KVClient").c_str()), 0);
  ResolvedCommand command;
  ASSERT_TRUE(ResolveCommandLine(R"(.\DmiSetValue /e24)", &command));
  EXPECT_EQ(command.path, "./DmiSetValue");
  EXPECT_EQ(command.argv, (Args{R"(.\DmiSetValue)", "/e24"}));

  // A bare name: beside our executable first, then here, then along PATH.
  ASSERT_TRUE(ResolveCommandLine("DmiSetValue", &command));
  EXPECT_EQ(command.path, ExecutableDirectory() + "/DmiSetValue");
  MakeFile("only-here", 0755);
  ASSERT_TRUE(ResolveCommandLine("only-here x", &command));
  EXPECT_EQ(command.path, "./only-here");
  ASSERT_TRUE(ResolveCommandLine("sh -c true", &command));
  EXPECT_EQ(access(command.path.c_str(), X_OK), 0);
  EXPECT_EQ(command.argv, (Args{"sh", "-c", "true"}));
  EXPECT_FALSE(ResolveCommandLine("no-such-program-anywhere", &command));
}

}  // namespace
}  // namespace platform::posix
