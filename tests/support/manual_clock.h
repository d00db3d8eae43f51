// Virtual time for tests: a clock that moves only when the test moves it.
#ifndef SCHEDEXE_TESTS_SUPPORT_MANUAL_CLOCK_H_
#define SCHEDEXE_TESTS_SUPPORT_MANUAL_CLOCK_H_

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

#include "platform/clock.h"
#include "support/scoped_globals.h"

namespace testsupport {

// Virtual time that moves only when a test says so. Now() is the start time
// plus the elapsed virtual seconds.
class ManualClock final : public platform::Clock {
 public:
  explicit ManualClock(platform::TimeValue start = 1'000'000'000);

  platform::TimeValue Now() override;
  int64_t NowMs() override { return now_ms_.load(); }
  bool IsVirtual() const override { return true; }

  void AdvanceMs(int64_t ms);
  void AdvanceSeconds(int64_t s) { AdvanceMs(s * 1000); }
  // Sets the wall clock `s` seconds forward (negative: back) without moving
  // monotonic time, and tells the step watches on this thread.
  void StepWallSeconds(int64_t s);
  void AddStepWatch(platform::ClockStepWatch* watch) override;
  void RemoveStepWatch(platform::ClockStepWatch* watch) override;
  // Moves time to the earliest deadline of any blocked timed wait (if any lies
  // ahead). Returns false when nobody waits with a deadline.
  bool AdvanceToNextDeadline();
  // Earliest deadline (NowMs scale) of a blocked timed wait, or -1.
  int64_t EarliestDeadline();

  // Number of threads blocked in a timed wait right now.
  int TimedWaiters();
  // Blocks (in real time, up to real_ms) until at least n threads are in a
  // timed wait. Lets a test advance only after its threads have gone to sleep.
  bool AwaitTimedWaiters(int n, int real_ms = 10'000);
  // Threads blocked in any wait of this clock (timed or not) that nothing has
  // released yet: a thread that was signalled or whose deadline passed is
  // running, even before the OS has scheduled it.
  int Blocked();
  // Waits (real time, at most real_us) until Blocked() reaches `count`, or
  // any wait begins or ends. Lets a test follow its threads without polling.
  void AwaitBlockedChange(int count, int real_us);

 private:
  void Register(platform::ClockWaiter* w) override;
  void Unregister(platform::ClockWaiter* w) override;
  void WaitBegins(const platform::ClockWait& wait) override;
  void WaitReleased(const platform::ClockWait& wait) override;

  const platform::TimeValue start_;
  std::atomic<int64_t> now_ms_{0};
  std::atomic<int64_t> wall_step_s_{0};
  std::mutex step_mutex_;  // held while a watch is told, so it outlives the call
  std::set<platform::ClockStepWatch*> step_watches_;
  std::mutex registry_mutex_;  // guards waiters_
  std::mutex wait_mutex_;      // guards deadlines_ and blocked_; taken inside a waiter's mutex
  std::condition_variable waits_changed_;
  std::set<platform::ClockWaiter*> waiters_;
  std::multiset<int64_t> deadlines_;  // of blocked, unreleased timed waits
  int blocked_ = 0;
};

// The virtual time of most engine tests: a manual clock, installed as the
// system clock, with local time in UTC.
struct UtcManualTime {
  explicit UtcManualTime(platform::TimeValue start) : clock(start) {}
  ScopedTimeZone zone{"UTC0"};
  ManualClock clock;
  ScopedSystemClock installed{clock};
};

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_MANUAL_CLOCK_H_
