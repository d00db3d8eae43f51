// Process starts as the scheduler makes them: Windows command lines with no
// application name, seen byte for byte by the agent stand-in. Run against the
// OS backend and against the tests' FakeEnv in its running mode, so the fake
// hands on exactly what it was given and reports what the OS reports.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/env.h"
#include "platform/log.h"
#include "platform/process_info.h"
#include "platform/program_entry.h"
#include "platform/testing.h"
#include "support/fake_env.h"
#include "support/journal.h"
#include "support/scoped_globals.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

constexpr char kSynchArguments[] = R"( "CORVANEX|Remote Execution Triggers|" 16 "synch" "" 8)";

struct RealProcesses {};
struct FakeProcesses {
  FakeProcesses() { env.run_processes = true; }
  testsupport::FakeEnv env;  // installed as the system Env
};

std::string Beside(const std::string& program) {
  return ExecutableDirectory() + pt::Sep() + program + pt::ExeSuffix();
}

template <typename Backend>
class ProcessTest : public ::testing::Test {
 protected:
  static bool Start(const std::string& line, uint32_t flags, bool wait) {
    return SystemEnv().StartProcess(line.c_str(), flags, wait);
  }

  Backend backend_;
  testsupport::ScratchDir scratch_{"process"};
  const std::string& dir_ = scratch_.dir();
  const std::string journal_ = scratch_.Path("journal.log");
  const std::string mark_ = scratch_.Path("mark");
  testsupport::ScopedEnv journal_env_{"AGENT_JOURNAL", journal_.c_str()};
  testsupport::ScopedEnv mark_env_{"SCHEDEXE_TEST_MARK", mark_.c_str()};
  // One we inherited must not reach the child as its own command line.
  testsupport::ScopedEnv stale_line_{"SCHEDEXE_CMDLINE", "stale"};
};

using Backends = ::testing::Types<RealProcesses, FakeProcesses>;
TYPED_TEST_SUITE(ProcessTest, Backends);

TYPED_TEST(ProcessTest, CommandLineArrivesByteForByteOrNothingStarts) {
  // A missing program is not started, waited for or not.
  const std::string missing = this->dir_ + pt::Sep() + "nothere" + pt::ExeSuffix();
  EXPECT_FALSE(this->Start(missing + " 1", kNormalPriorityClass, true));
  EXPECT_FALSE(this->Start(missing, kDetachedProcess, false));
  EXPECT_FALSE(this->Start("", kNormalPriorityClass, true));
  EXPECT_FALSE(std::filesystem::exists(this->journal_));

  const std::string synch = Beside("kvcmd") + kSynchArguments;
  const std::string odd = Beside("kvcmd") + R"( "a\"b" c\\d "" "x""y"	tab)";
  ASSERT_TRUE(this->Start(synch, kNormalPriorityClass, true));
  ASSERT_TRUE(this->Start(odd, kNormalPriorityClass, true));
  EXPECT_EQ(testsupport::ReadJournalCommands(this->journal_),
            (std::vector<std::string>{synch, odd}));

  const std::string first = pt::FileContents(this->journal_);
  double seconds = 0;
  char tab = 0;
  std::istringstream(first) >> seconds >> std::noskipws >> tab;
  EXPECT_EQ(tab, '\t');
  EXPECT_NEAR(seconds, static_cast<double>(RealClock().Now()), 600.0);
  EXPECT_EQ(first.find('.'), first.find('\t') - 4) << "three decimals: " << first;

  // An unquoted program folder with blanks.
  namespace fs = std::filesystem;
  const std::string client = this->dir_ + pt::Sep() + "my agent" + pt::Sep() + "KVClient";
  fs::create_directories(client);
  const std::string program = client + pt::Sep() + "kvcmd" + pt::ExeSuffix();
  fs::copy_file(Beside("kvcmd"), program);
  ASSERT_TRUE(this->Start(program + kSynchArguments, kNormalPriorityClass, true));
  // Wine hands the child its path quoted; the arguments stay as sent.
  EXPECT_EQ(testsupport::ReadJournalCommands(this->journal_).back(),
            (pt::RunningUnderWine() ? "\"" + program + "\"" : program) + kSynchArguments);
}

// Run only as the slow child of WaitOrNot: lingers, then leaves a mark.
TEST(ProcessChild, DISABLED_Slow) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  AppendExclusive(GetEnvironmentVariable("SCHEDEXE_TEST_MARK"), "done\n");
}

TYPED_TEST(ProcessTest, WaitOrNot) {
  const std::string line = Beside("unit_tests") +
                           " --gtest_also_run_disabled_tests"
                           " --gtest_filter=ProcessChild.DISABLED_Slow";
  ASSERT_TRUE(this->Start(line, kNormalPriorityClass, true));
  EXPECT_TRUE(std::filesystem::exists(this->mark_)) << "returned before the child ended";
  std::filesystem::remove(this->mark_);

  const auto before = std::chrono::steady_clock::now();
  ASSERT_TRUE(this->Start(line, kDetachedProcess, false));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(1000));
  EXPECT_FALSE(std::filesystem::exists(this->mark_)) << "waited for the child";
  // The child still runs to its end.
  for (int i = 0; i < 300 && !std::filesystem::exists(this->mark_); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  EXPECT_TRUE(std::filesystem::exists(this->mark_));
}

// Run only as the child of EndingTheProcess: a thread still uses a static
// object, and a stream holds unwritten text, when the process ends.
TEST(ProcessChild, DISABLED_Ending) {
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

TEST(ProcessEndTest, EndingTheProcessStopsItsThreadsAndFlushes) {
  testsupport::ScratchDir dir("process-end");
  const std::string mark = dir.Path("mark");
  testsupport::ScopedEnv mark_env("SCHEDEXE_TEST_MARK", mark.c_str());
  ASSERT_TRUE(DefaultEnv().StartProcess(
      (Beside("unit_tests") + " --gtest_also_run_disabled_tests"
                              " --gtest_filter=ProcessChild.DISABLED_Ending")
          .c_str(),
      kNormalPriorityClass, true));
  EXPECT_EQ(pt::FileContents(mark), "unflushed");
}

// What the log tells of a start: the exit code of a process waited for (a
// usage error of tarnprofile is 2), the OS reason of one that cannot start.
TEST(ProcessOutcomeTest, ExitCodeOfAWaitedProcessAndReasonOfAFailedStart) {
  ProcessOutcome outcome;
  const std::string usage = "\"" + Beside("tarnprofile") + "\"";
  ASSERT_TRUE(DefaultEnv().StartProcessWithOutcome(usage.c_str(), 0, true, &outcome));
  EXPECT_TRUE(outcome.exit_code_known);
  EXPECT_EQ(outcome.exit_code, 2u);
  ASSERT_TRUE(
      DefaultEnv().StartProcessWithOutcome(usage.c_str(), kDetachedProcess, false, &outcome));
  EXPECT_FALSE(outcome.exit_code_known);
  const std::string missing = "\"" + Beside("no-such-program") + "\" x";
  EXPECT_FALSE(DefaultEnv().StartProcessWithOutcome(missing.c_str(), 0, true, &outcome));
  EXPECT_NE(outcome.error, 0u);
  EXPECT_NE(OsErrorText(outcome.error), OsErrorText(0));
}

}  // namespace
}  // namespace platform
