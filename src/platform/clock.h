// Time for the whole system. Every "now", every sleep and every timed wait goes
// through one Clock, so tests can run days of schedule in milliseconds with a
// virtual clock of their own.
#ifndef SCHEDEXE_PLATFORM_CLOCK_H_
#define SCHEDEXE_PLATFORM_CLOCK_H_

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <vector>

namespace platform {

// Seconds since 1970-01-01 00:00:00 UTC, as the system stores due times.
using TimeValue = int32_t;

// Wait forever (the Windows INFINITE).
constexpr uint32_t kInfinite = 0xFFFFFFFFu;

class Clock;
class ClockStepWatch;

// One thread blocked in a wait of a virtual clock. Guarded by the mutex of
// the ClockWaiter it waits on.
struct ClockWait {
  int64_t deadline;  // on the NowMs scale; INT64_MAX: no limit
  bool released;     // signalled or past its deadline, even if not yet running
};

// A waitable point for one Clock. Event and Sleep build on it; a virtual
// clock pokes every registered waiter when time moves, so a timed wait can
// end on virtual time. Under a virtual clock every wait is also accounted
// for, so a test can tell when all of its threads are blocked and nothing can
// happen until it moves time.
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
  friend class Clock;
  void WaitSome(std::unique_lock<std::mutex>& lock, int64_t deadline);
  // Call with mutex_ held.
  void Release(ClockWait* wait);

  Clock& clock_;
  std::vector<ClockWait*> waits_;  // threads blocked here (virtual time)
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

  // The watches a virtual clock tells of the steps of its wall time; the
  // machine's clock has the OS tell them (clock_step.h).
  virtual void AddStepWatch(ClockStepWatch*) {}
  virtual void RemoveStepWatch(ClockStepWatch*) {}

  // Local calendar of a time value; false when the C library cannot convert it.
  bool LocalTime(TimeValue t, std::tm* out) const;
  // mktime with tm_isdst = -1 (the library decides daylight saving). Normalises
  // *fields like mktime. Returns -1 for a calendar time the time value cannot
  // hold (before 1970 or after 2038-01-19 03:14:07 UTC).
  TimeValue MakeTime(std::tm* fields) const;

 protected:
  // Hooks for a virtual clock, which has to know its waiters and account for
  // every blocked thread; the real clock needs none of it. Register and
  // Unregister are called as a waiter is made and destroyed; WaitBegins and
  // WaitReleased with the waiter's mutex held, once each per wait.
  virtual void Register(ClockWaiter*) {}
  virtual void Unregister(ClockWaiter*) {}
  virtual void WaitBegins(const ClockWait&) {}
  virtual void WaitReleased(const ClockWait&) {}

  // For a virtual clock whose time moved to `now_ms`: releases the waits of
  // `waiter` whose deadline has come and wakes its threads to look at the
  // time again. Takes the waiter's mutex.
  static void Poke(ClockWaiter& waiter, int64_t now_ms);

 private:
  friend class ClockWaiter;
};

// The machine's clock.
class RealClock final : public Clock {
 public:
  TimeValue Now() override;
  int64_t NowMs() override;
};

// Sets the TZ variable (nullptr removes it) and makes the C library's
// local-time conversions follow it. Tests only ("UTC0",
// "CET-1CEST,M3.5.0,M10.5.0/3", ...).
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
bool ClockWaiter::WaitLocked(std::unique_lock<std::mutex>& lock, uint32_t ms, Ready ready) {
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
