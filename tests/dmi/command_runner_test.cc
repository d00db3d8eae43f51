#include "dmi/command_runner.h"

#include <gtest/gtest.h>

#include "dmi/agent_client_directory.h"
#include "dmi/dmi_commands.h"
#include "platform/env.h"
#include "support/fake_env.h"
#include "support/log_capture.h"

namespace dmi {
namespace {

class CommandRunnerTest : public ::testing::Test {
 protected:
  testsupport::FakeEnv env_;
};

TEST_F(CommandRunnerTest, CommandsRunFromTheClientDirectoryAndAreWaitedFor) {
  env_.SetValue(kAgentKey, kAgentPathValue, "C:\\Program Files\\Agent");
  EXPECT_NE(RunAgentCommand(kSynchCommand), 0);
  EXPECT_NE(SetProfileRowDeleted(4), 0);
  ASSERT_EQ(env_.starts().size(), 2u);
  const std::string dir = "C:\\Program Files\\Agent\\KVClient\\";
  // Unquoted program path, directory glued to the command text.
  EXPECT_EQ(env_.starts()[0].command_line, dir + kSynchCommand);
  EXPECT_EQ(env_.starts()[1].command_line, dir + ProfileDeleteCommand(4));
  for (const auto& start : env_.starts()) {
    EXPECT_TRUE(start.wait);
    EXPECT_EQ(start.flags, platform::kNormalPriorityClass);
  }
  // The directory is read afresh for every command.
  env_.SetValue(kAgentKey, kAgentPathValue, "D:\\a");
  RunAgentCommand("wactivate /category:2 /event:3");
  EXPECT_EQ(env_.starts().back().command_line, "D:\\a\\KVClient\\wactivate /category:2 /event:3");
}

TEST_F(CommandRunnerTest, FailuresStartNothingAndReportZero) {
  // No key at all.
  EXPECT_EQ(RunAgentCommand(kSynchCommand), 0);
  // Key without the value.
  env_.AddKey(kAgentKey);
  EXPECT_EQ(RunAgentCommand(kSynchCommand), 0);
  // A directory so long that "\KVClient\" no longer fits: refused, not cut.
  env_.SetValue(kAgentKey, kAgentPathValue, std::string(1014, 'd'));
  EXPECT_EQ(RunAgentCommand(kSynchCommand), 0);
  // The directory fits but the whole line would pass 1023 characters.
  env_.SetValue(kAgentKey, kAgentPathValue, std::string(1000, 'd'));
  EXPECT_EQ(RunAgentCommand(kSynchCommand), 0);
  EXPECT_TRUE(env_.starts().empty());
  // A line of 1024 characters has no room for its NUL; 1023 still go. Every
  // agent program (DmiSetValue, wactivate) is started through this one check.
  const std::string text(1023 - 1000 - 10, 'x');
  EXPECT_EQ(RunAgentCommand(text + "x"), 0);
  EXPECT_NE(RunAgentCommand(text), 0);
  ASSERT_EQ(env_.starts().size(), 1u);
  EXPECT_EQ(env_.starts()[0].command_line.size(), 1023u);
  // A program that cannot start is reported as 0.
  env_.start_result = false;
  EXPECT_EQ(RunAgentCommand(text), 0);
  EXPECT_EQ(RunCommandAndWait("C:\\nowhere\\x.exe"), 0);
}

TEST_F(CommandRunnerTest, WhatIsNotStartedIsLoggedWithItsCommandLine) {
  testsupport::LogCapture log;
  using platform::LogLevel;
  RunAgentCommand("wactivate /category:2 /event:1");
  EXPECT_EQ(log.Count(LogLevel::kError, {kAgentPathValue, "wactivate /category:2 /event:1"}), 1);
  env_.SetValue(kAgentKey, kAgentPathValue, "C:\\a");
  env_.start_result = false;
  RunAgentCommand(kSynchCommand);
  const std::string line = std::string("C:\\a\\KVClient\\") + kSynchCommand;
  EXPECT_EQ(log.Count(LogLevel::kDebug, {"starting " + line}), 1);
  EXPECT_EQ(log.Count(LogLevel::kError, {"cannot start " + line}), 1);
  RunAgentCommand(std::string(1100, 'x'));
  EXPECT_EQ(log.Count(LogLevel::kError, {"not started (longer than 1023"}), 1);
  EXPECT_EQ(log.Lines().size(), 6u) << ::testing::PrintToString(log.Lines());
}

}  // namespace
}  // namespace dmi
