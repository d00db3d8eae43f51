// The test helper that starts programs: its command lines must split back
// into the arguments given.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/process_info.h"
#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

TEST(ChildProcessWin32Test, CommandLinesSplitBackIntoTheArguments) {
  testsupport::ScratchDir dir("child:process");
  const std::string journal = dir.Path("journal.log");
  ASSERT_TRUE(pt::SetEnv("AGENT_JOURNAL", journal));
  const std::string program = ExecutableDirectory() + "\\wactivate.exe";

  auto child = pt::ChildProcess::Start(
      program, {"plain", "a b", "", "say \"hi\"", "C:\\dir\\", "C:\\a b\\", "x\\\\\"y"});
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(child->Wait(), 0);
  std::ifstream in(journal, std::ios::binary);
  std::string line;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_EQ(line.substr(line.find('\t') + 1),
            program + R"( plain "a b" "" "say \"hi\"" C:\dir\ "C:\a b\\" "x\\\\\"y")");
  pt::UnsetEnv("AGENT_JOURNAL");

  // (A killed child ending at once is proven by kvbase's killed writers.)
  EXPECT_EQ(pt::ChildProcess::Start(dir.Path("missing.exe"), {}), nullptr);
}

}  // namespace
}  // namespace platform
