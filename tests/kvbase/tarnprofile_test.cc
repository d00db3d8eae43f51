// The data-file tool: what it writes is what kvbase reads, and its exit
// codes tell usage errors from failed writes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process_info.h"
#include "platform/testing.h"
#include "tests/kvbase/profile_test_util.h"

namespace kvbase_test {
namespace {

namespace pt = ::platform::testing;

int RunTool(const std::vector<std::string>& args) {
  auto child =
      pt::ChildProcess::Start(platform::ExecutableDirectory() + pt::Sep() +
                                  "tarnprofile" + pt::ExeSuffix(),
                              args);
  return child ? child->Wait() : -100;
}

TEST(TarnprofileTest, WritesThroughKvbaseAndReportsErrors) {
  ScratchDir scratch("tarnprofile");
  const std::string file = scratch.Path("tarn.dat");
  WriteBytes(file, "; kept\n[Scheduler Profile 1]\nState=Add\n[Other]\nx=1\n");
  EXPECT_EQ(RunTool({"set", file, "Scheduler Profile 1", "State", "Active"}),
            0);
  EXPECT_EQ(RunTool({"set", file, "Scheduler Profile 1", "Note", "two words"}),
            0);
  EXPECT_EQ(RunTool({"delete-section", file, "Other"}), 0);
  EXPECT_EQ(FileContents(file),
            "; kept\n[Scheduler Profile 1]\nState=Active\nNote=two words\n");
  EXPECT_EQ(RunTool({"get", file, "Scheduler Profile 1", "State"}), 0);
  EXPECT_EQ(
      RunTool({"get", "--size", "4", file, "Scheduler Profile 1", "State"}), 0);
  EXPECT_EQ(RunTool({"getint", file, "Nope", "Nope"}), 0);

  // Usage errors: 2, and the file untouched.
  for (const std::vector<std::string>& bad :
       std::vector<std::vector<std::string>>{
           {},
           {"frobnicate", file},
           {"set", file, "S", "K"},
           {"get", "--size", "0", file, "S", "K"},
           {"get", "--size", "x", file, "S", "K"},
           {"getint", file, "S"},
           {"delete-section", file}}) {
    EXPECT_EQ(RunTool(bad), 2) << (bad.empty() ? "" : bad[0]);
  }
  EXPECT_EQ(FileContents(file),
            "; kept\n[Scheduler Profile 1]\nState=Active\nNote=two words\n");
  // A write that cannot be made: 1.
  EXPECT_EQ(RunTool({"set", scratch.Path("no") + pt::Sep() + "tarn.dat", "S",
                     "K", "V"}),
            1);
  EXPECT_EQ(RunTool({"set", scratch.dir(), "S", "K", "V"}), 1);
}

}  // namespace
}  // namespace kvbase_test
