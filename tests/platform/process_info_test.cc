// What a program knows about itself, and the journal append that concurrent
// stand-ins share.
#include "platform/process_info.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

TEST(ProcessInfoTest, KnowsItself) {
  const std::string dir = ExecutableDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_NE(dir.back(), kPathSeparator);

  ASSERT_TRUE(pt::SetEnv("SCHEDEXE_TEST_VARIABLE", "a b=c"));
  EXPECT_EQ(GetEnvironmentVariable("SCHEDEXE_TEST_VARIABLE"), "a b=c");
  pt::UnsetEnv("SCHEDEXE_TEST_VARIABLE");
  EXPECT_EQ(GetEnvironmentVariable("SCHEDEXE_TEST_VARIABLE"), "");
}

// In a process of its own, started afresh: it binds the whole process.
TEST(ProcessInfoTest, ThreadsKeptTogetherRunOnOneProcessor) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        KeepThreadsTogether();
        bool together = true;
        for (int i = 0; i < 50 && together; ++i) {
          int theirs = -1;
          std::thread([&theirs] { theirs = pt::CurrentProcessor(); }).join();
          together = theirs == pt::CurrentProcessor();
        }
        std::exit(together ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ProcessInfoTest, ConcurrentAppendsNeverInterleave) {
  testsupport::ScratchDir dir("append");
  const std::string path = dir.Path("journal.log");
  // Six writers of 100 long lines each, so that a write split in two shows.
  std::vector<std::thread> writers;
  for (char c = 'a'; c < 'g'; ++c) {
    writers.emplace_back([&path, c] {
      for (int i = 0; i < 100; ++i) EXPECT_TRUE(AppendExclusive(path, std::string(4000, c) + "\n"));
    });
  }
  for (std::thread& t : writers) t.join();

  std::ifstream in(path, std::ios::binary);
  int count = 0;
  for (std::string line; std::getline(in, line); ++count) {
    ASSERT_EQ(line.size(), 4000u);
    ASSERT_EQ(line.find_first_not_of(line[0]), std::string::npos) << "mixed line " << count;
  }
  EXPECT_EQ(count, 600);
}

}  // namespace
}  // namespace platform
