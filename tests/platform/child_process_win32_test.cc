// The test helper that starts programs: its command lines must split back
// into the arguments given, and a killed child must end at once.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/process_info.h"
#include "platform/testing.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

TEST(ChildProcessWin32Test, QuotesAndKills) {
  const std::string dir = pt::MakeTempDir("child:process");
  ASSERT_FALSE(dir.empty());
  const std::string journal = dir + "\\journal.log";
  ASSERT_TRUE(pt::SetEnv("AGENT_JOURNAL", journal));
  const std::string program = ExecutableDirectory() + "\\DmiSetValue.exe";

  auto child = pt::ChildProcess::Start(
      program, {"plain", "a b", "", "say \"hi\"", "C:\\dir\\", "C:\\a b\\", "x\\\\\"y"});
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->Wait(), 0);
  std::ifstream in(journal, std::ios::binary);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line.substr(line.find('\t') + 1),
            program +
                R"( plain "a b" "" "say \"hi\"" C:\dir\ "C:\a b\\" "x\\\\\"y")");
  pt::UnsetEnv("AGENT_JOURNAL");

  EXPECT_EQ(pt::ChildProcess::Start(dir + "\\missing.exe", {}), nullptr);

  // A child that would linger for 1.5 s and then exit 0.
  auto slow = pt::ChildProcess::Start(
      ExecutableDirectory() + "\\unit_tests.exe",
      {"--gtest_also_run_disabled_tests",
       "--gtest_filter=ProcessChild.DISABLED_Slow"});
  ASSERT_NE(slow, nullptr);
  slow->Kill();
  EXPECT_EQ(slow->Wait(), -1);
  pt::RemoveTree(dir);
}

}  // namespace
}  // namespace platform
