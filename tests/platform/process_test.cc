// Process starts as the scheduler makes them: Windows command lines with no
// application name, seen byte for byte by the agent stand-in.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/env.h"
#include "platform/process_info.h"
#include "platform/program_entry.h"
#include "platform/testing.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

constexpr char kSynchArguments[] =
    R"( "CORVANEX|Remote Execution Triggers|" 16 "synch" "" 8)";

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = pt::MakeTempDir("process");
    ASSERT_FALSE(dir_.empty());
    journal_ = dir_ + pt::Sep() + "journal.log";
    ASSERT_TRUE(pt::SetEnv("AGENT_JOURNAL", journal_));
  }
  void TearDown() override {
    pt::UnsetEnv("AGENT_JOURNAL");
    pt::RemoveTree(dir_);
  }

  static std::string Beside(const std::string& program) {
    return ExecutableDirectory() + pt::Sep() + program + pt::ExeSuffix();
  }

  // The command lines in the journal, without their time stamps.
  std::vector<std::string> JournalCommands() {
    std::ifstream in(journal_, std::ios::binary);
    std::vector<std::string> commands;
    std::string line;
    while (std::getline(in, line)) {
      const size_t tab = line.find('\t');
      EXPECT_NE(tab, std::string::npos) << line;
      if (tab == std::string::npos) continue;
      commands.push_back(line.substr(tab + 1));
    }
    return commands;
  }

  static bool Start(const std::string& line, uint32_t flags, bool wait) {
    return DefaultEnv().StartProcess(line.c_str(), flags, wait);
  }

  std::string dir_;
  std::string journal_;
};

TEST_F(ProcessTest, CommandLineArrivesByteForByte) {
  const std::string synch = Beside("DmiSetValue") + kSynchArguments;
  const std::string odd =
      Beside("DmiSetValue") + R"( "a\"b" c\\d "" "x""y"	tab)";
  ASSERT_TRUE(Start(synch, kNormalPriorityClass, true));
  ASSERT_TRUE(Start(odd, kNormalPriorityClass, true));
  EXPECT_EQ(JournalCommands(), (std::vector<std::string>{synch, odd}));

  std::ifstream in(journal_, std::ios::binary);
  std::string first;
  std::getline(in, first);
  double seconds = 0;
  char tab = 0;
  std::istringstream(first) >> seconds >> std::noskipws >> tab;
  EXPECT_EQ(tab, '\t');
  EXPECT_NEAR(seconds, static_cast<double>(RealClock().Now()), 600.0);
  EXPECT_EQ(first.find('.'), first.find('\t') - 4)
      << "three decimals: " << first;
}

TEST_F(ProcessTest, UnquotedProgramDirectoryWithBlanks) {
  namespace fs = std::filesystem;
  const std::string client =
      dir_ + pt::Sep() + "my agent" + pt::Sep() + "KVClient";
  fs::create_directories(client);
  const std::string program =
      client + pt::Sep() + "DmiSetValue" + pt::ExeSuffix();
  fs::copy_file(Beside("DmiSetValue"), program);

  const std::string line = program + kSynchArguments;
  ASSERT_TRUE(Start(line, kNormalPriorityClass, true));
  const std::vector<std::string> commands = JournalCommands();
  ASSERT_EQ(commands.size(), 1u);
  if (pt::RunningUnderWine()) {
    // Wine hands the child its path quoted; the arguments stay as sent.
    EXPECT_EQ(commands[0], "\"" + program + "\"" + kSynchArguments);
  } else {
    EXPECT_EQ(commands[0], line);
  }
}

TEST_F(ProcessTest, MissingProgramIsNotStarted) {
  EXPECT_FALSE(Start(dir_ + pt::Sep() + "nothere" + pt::ExeSuffix() + " 1",
                     kNormalPriorityClass, true));
  EXPECT_FALSE(Start(dir_ + pt::Sep() + "nothere" + pt::ExeSuffix(),
                     kDetachedProcess, false));
  EXPECT_FALSE(Start("", kNormalPriorityClass, true));
  EXPECT_FALSE(std::filesystem::exists(journal_));
}

// Run only as the slow child of WaitOrNot: lingers, then leaves a mark.
TEST_F(ProcessTest, DISABLED_SlowChild) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  AppendExclusive(GetEnvironmentVariable("SCHEDEXE_TEST_MARK"), "done\n");
}

TEST_F(ProcessTest, WaitOrNot) {
  const std::string mark = dir_ + pt::Sep() + "mark";
  ASSERT_TRUE(pt::SetEnv("SCHEDEXE_TEST_MARK", mark));
  const std::string line = Beside("unit_tests") +
                           " --gtest_also_run_disabled_tests"
                           " --gtest_filter=ProcessTest.DISABLED_SlowChild";

  ASSERT_TRUE(Start(line, kNormalPriorityClass, true));
  EXPECT_TRUE(std::filesystem::exists(mark))
      << "returned before the child ended";
  std::filesystem::remove(mark);

  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(Start(line, kDetachedProcess, false));
  const auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(took, std::chrono::milliseconds(1000));
  EXPECT_FALSE(std::filesystem::exists(mark)) << "waited for the child";
  // The child still runs to its end.
  for (int i = 0; i < 300 && !std::filesystem::exists(mark); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(std::filesystem::exists(mark));
  pt::UnsetEnv("SCHEDEXE_TEST_MARK");
}

// Run only as the child of EndingTheProcess: a thread still uses a static
// object, and a stream holds unwritten text, when the process ends.
TEST_F(ProcessTest, DISABLED_EndingChild) {
  static std::vector<int> in_use(64);
  std::thread([] {
    for (;;) {
      for (int& v : in_use) ++v;
      std::this_thread::yield();
    }
  }).detach();
  std::FILE* out = std::fopen(GetEnvironmentVariable("SCHEDEXE_TEST_MARK").c_str(), "w");
  ASSERT_NE(out, nullptr);
  std::fputs("unflushed", out);
  EndProcess(0);
}

TEST_F(ProcessTest, EndingTheProcessStopsItsThreadsAndFlushes) {
  const std::string mark = dir_ + pt::Sep() + "mark";
  ASSERT_TRUE(pt::SetEnv("SCHEDEXE_TEST_MARK", mark));
  ASSERT_TRUE(Start(Beside("unit_tests") +
                        " --gtest_also_run_disabled_tests"
                        " --gtest_filter=ProcessTest.DISABLED_EndingChild",
                    kNormalPriorityClass, true));
  std::ifstream in(mark);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "unflushed");
  pt::UnsetEnv("SCHEDEXE_TEST_MARK");
}

}  // namespace
}  // namespace platform
