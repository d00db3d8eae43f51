#include <gtest/gtest.h>

#include <string>

#include "platform/testing.h"
#include "service/command_line.h"
#include "support/scoped_globals.h"

namespace service {
namespace {

// On Linux the process's own command line is the text its starter passed in
// SCHEDEXE_CMDLINE (the end-to-end suite chooses the mode that way); the
// tokens are a private copy that outlives a later change and split.
TEST(ServiceCommandLinePosixTest, SplitsAPrivateCopyOfTheProcessCommandLine) {
  testsupport::ScopedEnv cmdline("SCHEDEXE_CMDLINE", "\"/opt/my agent/schedExe\" /D");
  int count = 0;
  char* table[kMaxTokens] = {};
  ParseCommandLine(&count, table);
  ASSERT_TRUE(platform::testing::SetEnv("SCHEDEXE_CMDLINE", "other"));
  int other_count = 0;
  char* other_table[kMaxTokens] = {};
  ParseCommandLine(&other_count, other_table);
  EXPECT_EQ(other_count, 1);
  EXPECT_STREQ(other_table[0], "other");
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(table[0], "/opt/my agent/schedExe");
  EXPECT_STREQ(table[1], "/D");
}

}  // namespace
}  // namespace service
