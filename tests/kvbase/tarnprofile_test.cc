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
  auto child = pt::ChildProcess::Start(
      platform::ExecutableDirectory() + pt::Sep() + "tarnprofile" + pt::ExeSuffix(), args);
  return child ? child->Wait() : -100;
}

TEST(TarnprofileTest, WritesThroughKvbaseAndReportsErrors) {
  ScratchDir scratch("tarnprofile");
  const std::string file = scratch.Path("tarn.dat");
  WriteBytes(file, "; kept\n[Scheduler Profile 1]\nState=Add\n[Other]\nx=1\n");
  const std::string after = "; kept\n[Scheduler Profile 1]\nState=Active\nNote=two words\n";
  const std::vector<std::vector<std::string>> good = {
      {"set", file, "Scheduler Profile 1", "State", "Active"},
      {"set", file, "Scheduler Profile 1", "Note", "two words"},
      {"delete-section", file, "Other"},
      {"get", file, "Scheduler Profile 1", "State"},
      {"get", "--size", "4", file, "Scheduler Profile 1", "State"},
      {"getint", file, "Nope", "Nope"}};
  for (const auto& args : good) EXPECT_EQ(RunTool(args), 0) << args[0];
  EXPECT_EQ(FileContents(file), after);

  // Usage errors: 2, and the file untouched.
  const std::vector<std::vector<std::string>> bad = {{},
                                                     {"frobnicate", file},
                                                     {"set", file, "S", "K"},
                                                     {"get", "--size", "0", file, "S", "K"},
                                                     {"get", "--size", "x", file, "S", "K"},
                                                     {"getint", file, "S"},
                                                     {"delete-section", file},
                                                     // What would not read back as written.
                                                     {"set", file, "S\nT", "K", "V"},
                                                     {"set", file, "S", "K\r", "V"},
                                                     {"set", file, "S", "K", "a\rb"},
                                                     {"set", file, " S", "K", "V"},
                                                     {"set", file, "S", "K\t", "V"},
                                                     {"set", file, "S", "K", "V "},
                                                     {"set", file, "S", "K", "\x0bV"},
                                                     {"set", file, "S", "a=b", "V"},
                                                     {"set", file, "S", "[K]", "V"},
                                                     {"set", file, "S", ";K", "V"},
                                                     {"set", file, "S", "K", "\"V\""},
                                                     {"set", file, "S", "K", "'V'"},
                                                     {"delete-section", file, "Other\n"}};
  for (const auto& args : bad) EXPECT_EQ(RunTool(args), 2) << (args.empty() ? "" : args[0]);
  EXPECT_EQ(FileContents(file), after);
  // Inner quotes, blanks and brackets read back as they stand.
  EXPECT_EQ(RunTool({"set", file, "S]x", "K[;", "'a\" b=c"}), 0);
  EXPECT_EQ(FileContents(file), after + "[S]x]\nK[;='a\" b=c\n");
  // A write that cannot be made: 1.
  EXPECT_EQ(RunTool({"set", scratch.Path("no") + pt::Sep() + "tarn.dat", "S", "K", "V"}), 1);
  EXPECT_EQ(RunTool({"set", scratch.dir(), "S", "K", "V"}), 1);
}

}  // namespace
}  // namespace kvbase_test
