// The worker's start-up and reload steps against a real engine in virtual
// time, a recorded Env and a named event of each test's own.
#include "worker/scheduler_worker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "config/data_file_path.h"
#include "dmi/agent_client_directory.h"
#include "dmi/dmi_commands.h"
#include "dmi/dmi_library.h"
#include "engine/queue_publication.h"
#include "platform/shared_snapshot.h"
#include "platform/testing.h"
#include "support/engine_fixture.h"
#include "support/scoped_globals.h"
#include "support/scratch_dir.h"

namespace worker {
namespace {

constexpr char kKvcmd[] = ".\\kvcmd /e24";

// Set on the thread that plays the worker in a test of its own.
thread_local bool on_worker_thread = false;

// Slot 1 Active daily at 10:30, slot 2 Add at 12:00, slot 3 Add at 13:00.
std::string Profiles(const std::string& changed = "True") {
  return "[TARN Event Categories]\nNumber of Categories=2\nEventCat2=User Alarms\n"
         "[EventCat2 List]\nNumber of Cat2 Events=3\nChanged=" +
         changed +
         "\nCat2:1=P1\nCat2:2=P2\nCat2:3=P3\nCat2:4=Unused\nCat2:5=Unused\n"
         "Cat2:6=Unused\nCat2:7=Unused\nCat2:8=Unused\nCat2:9=Unused\n"
         "Cat2:10=Unused\nCat2:11=Unused\nCat2:12=Unused\n"
         "[Scheduler Profile 1]\nName=P1\nFrequency=Daily\nHour=10\nMinute=30\n"
         "State=Active\n"
         "[Scheduler Profile 2]\nName=P2\nFrequency=Daily\nHour=12\nState=Add\n"
         "[Scheduler Profile 3]\nName=P3\nFrequency=Daily\nHour=13\nState=Add\n";
}

class SchedulerWorkerTest : public testsupport::AgentTest {
 protected:
  SchedulerWorkerTest() : AgentTest("worker") {
    dmi::testing::ResetDmiLibraryForTesting();
    env_.on_registry_read = [this](const std::string&, const std::string& value) {
      if (value == dmi::kAgentPathValue) {
        // Each DMI command reads the agent directory just before it starts.
        if (record_event_) {
          event_seen_.push_back(platform::NamedEvent::Open(event_name_.c_str()) != nullptr);
        }
        if (on_worker_thread && pause_at_command_.exchange(false)) {
          WorkerPauseGate().Pause();
        }
      }
      if (value == config::kDataDirectoryValue && record_passes_) passes_seen_.push_back(Passes());
      if (value == config::kDataDirectoryValue && signal_in_snapshot_.exchange(false)) {
        for (int i = 0; i < 3; ++i) signaller_->Set();
      }
    };
  }

  ~SchedulerWorkerTest() override {
    WorkerPauseGate().Resume();
    // A reload step still waiting (after a failed check) is let go first.
    if (worker_.reload_event) worker_.reload_event->Set();
    delete worker_.host;
    delete worker_.queue;
    worker_.reload_event.reset();
    signaller_.reset();
    platform::testing::RemoveNamedEvent(event_name_);
    dmi::testing::ResetDmiLibraryForTesting();
  }

  // The start-up as the worker runs it, the engine on a thread of its own.
  void StartUp() {
    std::thread([this] { StartEngine(&worker_); }).join();
    ASSERT_NE(worker_.host, nullptr);
    time_.emplace(clock_, worker_.host->scheduler().threads());
    ASSERT_TRUE(time_->Run([this] { StartServing(&worker_, event_name_.c_str()); }));
    ASSERT_NE(worker_.reload_event, nullptr);
  }

  // One reload step; the event must have a signal pending already.
  bool ReloadOnce() {
    return time_->Run([this] { ServeOneReload(&worker_); });
  }

  // The passes the published queue counts: begun, and " passing" while the
  // last of them is under way.
  std::string Passes() {
    std::string bytes;
    uint32_t pid = 0;
    engine::QueueSnapshot s;
    if (platform::ReadSnapshot(engine::QueuePublicationName(), &bytes, &pid) !=
            platform::SnapshotStatus::kOk ||
        !engine::ParseQueueSnapshot(bytes, &s)) {
      return "unreadable";
    }
    return std::to_string(s.passes) + (s.passing ? " passing" : "");
  }

  int64_t Count(const std::string& command) {
    const auto all = data_.Commands();
    return std::count(all.begin(), all.end(), command);
  }

  // A queue publication of this test's own (on Linux it is named after the
  // registry file): the worker tests run side by side.
  testsupport::ScopedEnv registry_{"SCHEDEXE_REGISTRY", (data_.dir() + "/registry").c_str()};
  // Never "TARNSCHED": a scheduler may be running on this machine.
  const std::string event_name_ = testsupport::UniqueName("SchedExeWorkerTest");
  Worker worker_;
  std::optional<testsupport::VirtualTime> time_;
  std::unique_ptr<platform::NamedEvent> signaller_;
  std::atomic<bool> record_event_{false};
  std::vector<bool> event_seen_;  // written by the worker step only
  std::atomic<bool> pause_at_command_{false};
  std::atomic<bool> signal_in_snapshot_{false};
  std::atomic<bool> record_passes_{false};
  std::vector<std::string> passes_seen_;  // written by the worker step only
};

TEST_F(SchedulerWorkerTest, StartUpPassesThenCreatesTheEventThenStartsKvcmd) {
  data_.Write(Profiles() +
              "[Backup/Restore/Mirror Profiles]\nNumber of Profiles=3\n"
              "Profile1=Nightly\nProfile2=Mirror\nProfile3=Weekly\n"
              "[Backup/Restore/Mirror Profile Nightly]\nPackage=4\n"
              "[Backup/Restore/Mirror Profile Mirror]\nPackage=2\n"
              "[Backup/Restore/Mirror Profile Weekly]\nPackage=4\n");
  record_event_ = true;
  StartUp();
  record_event_ = false;

  // Start-up loaded the DMI libraries (how they load is the library's own
  // test) and queued the three profiles (in what order, the passes' test).
  EXPECT_TRUE(dmi::DmiLibrary().entryPointsFound);
  EXPECT_EQ(worker_.host->QueueLength(), 3u);
  // The initial pass, then the two kvcmd starts, detached and not waited for.
  EXPECT_EQ(data_.Commands(),
            (std::vector<std::string>{dmi::ProfileActiveCommand(2), dmi::ProfileActiveCommand(3),
                                      dmi::Cat2ListUnchangedCommand(), dmi::kSynchCommand, kKvcmd,
                                      kKvcmd}));
  const auto starts = env_.starts();
  ASSERT_EQ(starts.size(), 6u);
  for (size_t i = 4; i < 6; ++i) {
    EXPECT_EQ(starts[i].flags, platform::kDetachedProcess);
    EXPECT_FALSE(starts[i].wait);
  }
  // The reload event did not exist during the pass; it does now.
  EXPECT_EQ(event_seen_, std::vector<bool>(4, false));
  EXPECT_NE(platform::NamedEvent::Open(event_name_.c_str()), nullptr);
}

TEST_F(SchedulerWorkerTest, BackupScanStartsOneCommandPerPackageFourProfile) {
  const std::string nightly = "[Backup/Restore/Mirror Profile Nightly]\nPackage=4\n";
  const std::string unnamed = "[Backup/Restore/Mirror Profile]\nPackage=4\n";
  // Section names of 255 and 256 bytes.
  const std::string fits(255 - 30, 'n');
  const std::string longer(256 - 30, 'l');
  const struct {
    const char* why;
    std::string profiles;
    int64_t starts;
  } cases[] = {
      {"no count", "Profile1=Nightly\n" + nightly, 0},
      {"count 0", "Number of Profiles=0\nProfile1=Nightly\n" + nightly, 0},
      {"negative count", "Number of Profiles=-1\nProfile1=Nightly\n" + nightly, 0},
      {"package missing or not 4",
       "Number of Profiles=2\nProfile1=A\nProfile2=B\n"
       "[Backup/Restore/Mirror Profile A]\nPackage=3\n",
       0},
      // Any case, but "Profile01" is not "Profile1"; keys past the count are
      // not read.
      {"key names",
       "Number of Profiles=5\nProfile2=Nightly\nPROFILE3=nightly\n"
       "Profile01=Nightly\nProfile5=Nightly\nProfile6=Nightly\n" +
           nightly,
       3},
      // A missing key reads the empty name, whose section (the trailing blank
      // trimmed) counts once per missing key.
      {"missing keys", "Number of Profiles=3\nProfile2=Other\n" + unnamed, 2},
      {"section too long",
       "Number of Profiles=2\nProfile1=" + fits + "\nProfile2=" + longer +
           "\n[Backup/Restore/Mirror Profile " + fits +
           "]\nPackage=4\n[Backup/Restore/Mirror Profile " + longer + "]\nPackage=4\n",
       1},
      // A huge count does not spin: existing profiles each start their
      // command, and the empty name's repeats are bounded.
      {"huge count",
       "Number of Profiles=2000000000\nProfile1=Nightly\nProfile1999999999=Nightly\n" + nightly, 2},
      {"huge count, missing keys",
       "Number of Profiles=2000000000\nProfile7=Nightly\n" + nightly + unnamed, 1 + 4096},
  };
  env_.keep_starts = false;
  for (const auto& c : cases) {
    data_.Write("[Backup/Restore/Mirror Profiles]\n" + c.profiles);
    const int64_t before = env_.start_count();
    StartBackupCommands(data_.data_file());
    EXPECT_EQ(env_.start_count() - before, c.starts) << c.why;
  }
}

TEST_F(SchedulerWorkerTest, SignalsWhileBusyLeadToExactlyOneMoreReload) {
  data_.Write(Profiles());
  // Given before the worker made the event, by a program that made it first:
  // the worker opens it with the signal kept and its first wait serves it.
  signaller_ = platform::NamedEvent::Create(event_name_.c_str());
  ASSERT_NE(signaller_, nullptr);
  ASSERT_TRUE(signaller_->Set());
  record_passes_ = true;
  StartUp();
  const int64_t synchs = Count(dmi::kSynchCommand);
  ASSERT_TRUE(ReloadOnce());
  EXPECT_EQ(Count(dmi::kSynchCommand), synchs + 1);
  // The list is still marked changed: the reload acted on it (Add of queued
  // tasks is reported again).
  EXPECT_EQ(Count(dmi::ProfileActiveCommand(3)), 2);

  // Three signals during one reload pass: one more reload, then none.
  data_.Write(Profiles("False"));
  ASSERT_TRUE(signaller_->Set());
  signal_in_snapshot_ = true;
  ASSERT_TRUE(ReloadOnce());
  EXPECT_FALSE(signal_in_snapshot_);
  EXPECT_EQ(Count(dmi::kSynchCommand), synchs + 2);
  ASSERT_TRUE(ReloadOnce());
  EXPECT_EQ(Count(dmi::kSynchCommand), synchs + 3);
  EXPECT_FALSE(signaller_->Wait(0));
  // Every pass is counted before its snapshot reads the data file, so a
  // pass numbered above the count seen after a write reads that write.
  record_passes_ = false;
  // (The host reads the path before it publishes, the start-up before its
  // pass.)
  EXPECT_EQ(passes_seen_, (std::vector<std::string>{"unreadable", "0", "1 passing", "2 passing",
                                                    "3 passing", "4 passing"}));
  EXPECT_EQ(Passes(), "4");
}

TEST_F(SchedulerWorkerTest, APausedWorkerHoldsBetweenCommandsWhileEventsFire) {
  data_.Write(Profiles());
  StartUp();
  NewCommands();
  ASSERT_TRUE(worker_.reload_event->Set());

  // The worker pauses while its first reload command runs (the Add of slot
  // 2, reported again), so it stops before slot 3.
  pause_at_command_ = true;
  std::atomic<bool> done{false};
  std::thread worker([this, &done] {
    on_worker_thread = true;
    platform::SetThreadPauseGate(&WorkerPauseGate());
    ServeOneReload(&worker_);
    done = true;
  });
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (data_.Commands().size() == seen_ && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(WorkerPauseGate().IsPaused());

  // Slot 1 is due at 10:30: it fires while the worker is held.
  EXPECT_TRUE(time_->RunFor(11 * 60 * 1000));
  const std::vector<std::string> commands = NewCommands();
  EXPECT_EQ(commands.empty() ? "" : commands.front(), dmi::ProfileActiveCommand(2));
  EXPECT_NE(std::find(commands.begin(), commands.end(), "wactivate /category:2 /event:1"),
            commands.end());
  EXPECT_EQ(std::find(commands.begin(), commands.end(), dmi::ProfileActiveCommand(3)),
            commands.end());
  EXPECT_FALSE(done);

  WorkerPauseGate().Resume();
  while (!done && std::chrono::steady_clock::now() < give_up) {
    if (!time_->RunFor(100)) break;
  }
  worker.join();
  // Resumed, the pass goes on where it stopped and ends as usual.
  EXPECT_EQ(Count(dmi::ProfileActiveCommand(3)), 2);
  EXPECT_EQ(data_.Commands().back(), dmi::kSynchCommand);
}

TEST_F(SchedulerWorkerTest, SignalsWhilePausedInTheWaitAreOneReloadAfterContinue) {
  data_.Write(Profiles("False"));
  StartUp();
  const int64_t synchs = Count(dmi::kSynchCommand);
  std::atomic<int> passes{0};
  std::thread worker([this, &passes] {
    platform::SetThreadPauseGate(&WorkerPauseGate());
    for (int i = 0; i < 2; ++i, ++passes) ServeOneReload(&worker_);
  });
  // Real time only: the clock stays before the first firing's synch.
  const auto until = [](const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!done() && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return done();
  };
  // After one reload the worker is back in its wait, and is paused there.
  EXPECT_TRUE(worker_.reload_event->Set());
  EXPECT_TRUE(until([&] { return passes == 1; }));
  WorkerPauseGate().Pause();
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(worker_.reload_event->Set());
    EXPECT_TRUE(until([] { return WorkerPauseGate().IsHolding(); }));
  }
  WorkerPauseGate().Resume();
  if (!until([&] { return passes == 2; })) worker_.reload_event->Set();
  worker.join();
  EXPECT_EQ(Count(dmi::kSynchCommand), synchs + 2);
  EXPECT_FALSE(worker_.reload_event->Wait(0));  // nothing left for a third pass
}

}  // namespace
}  // namespace worker
