// The named mutex against both backends: one holder at a time across threads
// and processes, open to every user, and a holder killed while it holds the
// mutex does not block the next one.
#include "platform/named_mutex.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
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
namespace fs = std::filesystem;

constexpr char kChildNameVar[] = "SCHEDEXE_MUTEX_CHILD_NAME";
constexpr char kChildDirVar[] = "SCHEDEXE_MUTEX_CHILD_DIR";

// Up to a minute (a child under Wine starts slowly); true once it exists.
bool AwaitFile(const fs::path& path) {
  for (int i = 0; i < 6000 && !fs::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return fs::exists(path);
}

// The child: this test binary started again with a filter that selects it.
// It takes the mutex, says so with the file "held" and keeps it until the
// file "release" appears. In an ordinary run it does nothing.
TEST(NamedMutexChildProcess, HoldUntilReleased) {
  const std::string name = GetEnvironmentVariable(kChildNameVar);
  const fs::path dir = GetEnvironmentVariable(kChildDirVar);
  if (name.empty() || dir.empty()) GTEST_SKIP() << "only as the child of a named mutex test";
  auto mutex = NamedMutex::Create(name.c_str());
  ASSERT_NE(mutex, nullptr);
  ASSERT_TRUE(mutex->Lock());
  std::ofstream(dir / "held").put('1');
  ASSERT_TRUE(AwaitFile(dir / "release"));
  ASSERT_TRUE(mutex->Unlock());
}

class NamedMutexTest : public ::testing::Test {
 protected:
  ~NamedMutexTest() override { pt::RemoveNamedMutex(name_); }

  std::unique_ptr<pt::ChildProcess> StartHolder() {
    testsupport::ScopedEnv name(kChildNameVar, name_.c_str());
    testsupport::ScopedEnv dir(kChildDirVar, dir_.string().c_str());
    return pt::ChildProcess::Start(
        ExecutableDirectory() + pt::Sep() + "unit_tests" + pt::ExeSuffix(),
        {"--gtest_filter=NamedMutexChildProcess.HoldUntilReleased"});
  }

  // Unique per run, never the service's own name: a service may be running.
  const std::string name_ = testsupport::UniqueName("SchedExeTestMutex");
  testsupport::ScratchDir scratch_{"namedmutex"};
  const fs::path dir_ = scratch_.dir();
};

TEST_F(NamedMutexTest, OneHolderAtATimeAndAKilledHolderHandsItOver) {
  auto mutex = NamedMutex::Create(name_.c_str());
  ASSERT_NE(mutex, nullptr);
  EXPECT_TRUE(pt::NamedMutexHasNullDacl(name_));

  // The holding thread may take it again; another thread, through a second
  // opening of the same name, may not until it has been unlocked as often.
  ASSERT_TRUE(mutex->Lock());
  ASSERT_TRUE(mutex->TryLock());
  const auto other_thread_takes_it = [&] {
    bool taken = false;
    std::thread([&] {
      auto opened = NamedMutex::Create(name_.c_str());
      taken = opened && opened->TryLock() && opened->Unlock();
    }).join();
    return taken;
  };
  EXPECT_FALSE(other_thread_takes_it());
  EXPECT_TRUE(mutex->Unlock());
  EXPECT_FALSE(other_thread_takes_it());
  EXPECT_TRUE(mutex->Unlock());
  EXPECT_FALSE(mutex->Unlock()) << "unlocked a mutex this thread does not hold";
  EXPECT_TRUE(other_thread_takes_it());

  // Another process holds it, then releases it or is killed holding it.
  for (const bool kill : {false, true}) {
    SCOPED_TRACE(kill ? "holder killed" : "holder releases");
    fs::remove(dir_ / "held");
    fs::remove(dir_ / "release");
    auto child = StartHolder();
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(AwaitFile(dir_ / "held"));
    EXPECT_FALSE(mutex->TryLock()) << "taken while another process holds it";
    if (kill) {
      child->Kill();
      child->Wait();
    } else {
      std::ofstream(dir_ / "release").put('1');
      EXPECT_EQ(child->Wait(), 0);
    }
    // Free at once, and still usable after it has been taken and released
    // once (an abandoned mutex must not stay marked as such).
    for (int round = 0; round < 2; ++round) {
      EXPECT_TRUE(mutex->TryLock());
      EXPECT_TRUE(mutex->Unlock());
    }
  }
}

}  // namespace
}  // namespace platform
