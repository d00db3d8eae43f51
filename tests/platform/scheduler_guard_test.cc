// One scheduler per agent: the guard held by another process is refused
// with that process's id, and handed on when that process is killed.
#include "platform/scheduler_guard.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "platform/process_info.h"
#include "platform/testing.h"
#include "support/scoped_globals.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

constexpr char kChildVar[] = "SCHEDEXE_GUARD_CHILD";

// Run as a child: takes the guard of the data file named in the
// environment, says so in a file beside it and holds on until killed.
TEST(SchedulerGuardChildProcess, Holds) {
  const std::string data_file = GetEnvironmentVariable(kChildVar);
  if (data_file.empty()) GTEST_SKIP() << "only as the child of the guard test";
  uint32_t holder = 0;
  auto guard = SchedulerGuard::TryAcquire(data_file, &holder, nullptr);
  ASSERT_NE(guard, nullptr);
  std::ofstream(data_file + ".held") << CurrentProcessId();
  std::this_thread::sleep_for(std::chrono::minutes(5));
}

TEST(SchedulerGuardTest, RefusedWhileAnotherProcessHoldsItAndHandedOnWhenItDies) {
  testsupport::ScratchDir dir("guard");
  const std::string data_file = dir.Path("tarn.dat");
  const std::string held = data_file + ".held";
  std::unique_ptr<pt::ChildProcess> child;
  {
    testsupport::ScopedEnv env(kChildVar, data_file.c_str());
    child =
        pt::ChildProcess::Start(ExecutableDirectory() + pt::Sep() + "unit_tests" + pt::ExeSuffix(),
                                {"--gtest_filter=SchedulerGuardChildProcess.Holds"});
  }
  ASSERT_NE(child, nullptr);
  for (int i = 0; i < 600 && pt::FileContents(held).empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  const std::string child_id = pt::FileContents(held);
  ASSERT_FALSE(child_id.empty()) << "the child never took the guard";

  uint32_t holder = 0;
  std::string error;
  EXPECT_EQ(SchedulerGuard::TryAcquire(data_file, &holder, &error), nullptr);
  EXPECT_EQ(std::to_string(holder), child_id);
  EXPECT_EQ(error, "");
  // Linux: one guard per agent data file; Windows: one per machine.
  const bool per_machine = pt::ExeSuffix() == ".exe";
  EXPECT_EQ(SchedulerGuard::TryAcquire(dir.Path("other.dat"), &holder, &error) == nullptr,
            per_machine);

  // Killed, however it ends, the holder hands the guard on.
  child->Kill();
  child->Wait();
  std::unique_ptr<SchedulerGuard> guard;
  for (int i = 0; i < 600 && !guard; ++i) {
    guard = SchedulerGuard::TryAcquire(data_file, &holder, &error);
    if (!guard) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  EXPECT_NE(guard, nullptr);
}

}  // namespace
}  // namespace platform
