// Time for the whole system. Every "now", every sleep and every timed wait goes
// through one Clock, so tests can run days of schedule in milliseconds with a
// ManualClock.
#ifndef SCHEDEXE_PLATFORM_CLOCK_H_
#define SCHEDEXE_PLATFORM_CLOCK_H_

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <set>
#include <vector>

namespace platform {

// Seconds since 1970-01-01 00:00:00 UTC, as the system stores due times.
using TimeValue = int32_t;

// Wait forever (the Windows INFINITE).
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Clock;

// A waitable point for one Clock. Event and Sleep build on it; a ManualClock
// pokes every registered waiter when time moves, so a timed wait can end on
// virtual time. Under a ManualClock every wait is also accounted for, so a
// test can tell when all of its threads are blocked and nothing can happen
// until it moves time.
class ClockWaiter {
 public:
  explicit ClockWaiter(Clock& clock);
  virtual ~ClockWaiter();
  ClockWaiter(const ClockWaiter&) = delete;
  ClockWaiter& operator=(const ClockWaiter&) = delete;

  Clock& clock() const { return clock_; }

 protected:
  // Blocks with `lock` held on mutex_ until ready() or `ms` have passed on the
  // clock. Returns ready().
  template <typename Ready>
  bool WaitLocked(std::unique_lock<std::mutex>& lock, uint32_t ms, Ready ready);

  // Called with mutex_ held by whoever makes ready() true: up to `count`
  // blocked threads count as running from now on (virtual time only).
  void ReleaseWaiters(int count);

  std::mutex mutex_;
  std::condition_variable cv_;

 private:
  friend class ManualClock;
  struct WaitRecord {
    int64_t deadline;  // INT64_MAX: no limit
    bool released;
  };
  void WaitSome(std::unique_lock<std::mutex>& lock, int64_t deadline);

  Clock& clock_;
  std::vector<WaitRecord*> records_;  // threads blocked here (virtual time)
};

class Clock {
 public:
  virtual ~Clock() = default;

  // Wall-clock seconds since 1970, cut to the signed 32-bit time value.
  virtual TimeValue Now() = 0;
  // Milliseconds on a monotonic scale, for timed waits.
  virtual int64_t NowMs() = 0;
  // True when waits must follow NowMs() by notifications rather than the
  // machine's own timers.
  virtual bool IsVirtual() const { return false; }

  void Sleep(uint32_t ms);

  // Local calendar of a time value; false when the C library cannot convert it.
  bool LocalTime(TimeValue t, std::tm* out) const;
  // mktime with tm_isdst = -1 (the library decides daylight saving). Normalises
  // *fields like mktime. Returns -1 for a calendar time the time value cannot
  // hold (before 1970 or after 2038-01-19 03:14:07 UTC).
  TimeValue MakeTime(std::tm* fields) const;

 private:
  friend class ClockWaiter;
  virtual void Register(ClockWaiter*) {}
  virtual void Unregister(ClockWaiter*) {}
};

// The machine's clock.
class RealClock final : public Clock {
 public:
  TimeValue Now() override;
  int64_t NowMs() override;
};

// Virtual time that moves only when a test says so. Now() is the start time
// plus the elapsed virtual seconds.
class ManualClock final : public Clock {
 public:
  explicit ManualClock(TimeValue start = 1'000'000'000);

  TimeValue Now() override;
  int64_t NowMs() override { return now_ms_.load(); }
  bool IsVirtual() const override { return true; }

  void AdvanceMs(int64_t ms);
  void AdvanceSeconds(int64_t s) { AdvanceMs(s * 1000); }
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
  friend class ClockWaiter;
  void Register(ClockWaiter* w) override;
  void Unregister(ClockWaiter* w) override;
  // Accounting of one blocked thread; called with the waiter's mutex held.
  void BeginWait(ClockWaiter::WaitRecord* r);
  void Release(ClockWaiter::WaitRecord* r);
  void EndWait(ClockWaiter::WaitRecord* r);

  const TimeValue start_;
  std::atomic<int64_t> now_ms_{0};
  std::mutex registry_mutex_;  // guards waiters_
  std::mutex wait_mutex_;      // guards deadlines_ and blocked_; taken inside a waiter's mutex
  std::condition_variable waits_changed_;
  std::set<ClockWaiter*> waiters_;
  std::multiset<int64_t> deadlines_;  // of blocked, unreleased timed waits
  int blocked_ = 0;
};

// Sets the TZ variable and makes the C library's local-time conversions follow
// it. Tests only ("UTC0", "CET-1CEST,M3.5.0,M10.5.0/3", ...).
void SetTimeZoneForTesting(const char* tz);

// Makes the local-time conversions follow the zone this process was started
// in (TZ of the Linux process; under Wine the zone Wine derived from it,
// since the Windows C runtime cannot parse zone names). Tests only.
void UseStartupTimeZoneForTesting(const char* zone);

// The clock the system runs on: the RealClock unless a test installed another.
Clock& SystemClock();
// Installs `clock` (nullptr restores the real one). Tests only.
void SetSystemClockForTesting(Clock* clock);

template <typename Ready>
bool ClockWaiter::WaitLocked(std::unique_lock<std::mutex>& lock, uint32_t ms,
                             Ready ready) {
  if (!clock_.IsVirtual()) {
    if (ms == kInfinite) {
      cv_.wait(lock, ready);
      return true;
    }
    return cv_.wait_for(lock, std::chrono::milliseconds(ms), ready);
  }
  const int64_t deadline = ms == kInfinite ? INT64_MAX : clock_.NowMs() + ms;
  while (!ready()) {
    if (deadline != INT64_MAX && clock_.NowMs() >= deadline) return false;
    WaitSome(lock, deadline);
  }
  return true;
}

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_CLOCK_H_
