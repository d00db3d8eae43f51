#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

namespace platform {

ClockWaiter::ClockWaiter(Clock& clock) : clock_(clock) { clock_.Register(this); }

ClockWaiter::~ClockWaiter() { clock_.Unregister(this); }

void ClockWaiter::WaitSome(std::unique_lock<std::mutex>& lock, int64_t deadline) {
  ClockWait wait{deadline, false};
  waits_.push_back(&wait);
  clock_.WaitBegins(wait);
  cv_.wait(lock);
  waits_.erase(std::find(waits_.begin(), waits_.end(), &wait));
  // A wake-up nobody released (a poke for another deadline): the thread
  // runs now and blocks again in a moment.
  Release(&wait);
}

void ClockWaiter::Release(ClockWait* wait) {
  if (wait->released) return;
  wait->released = true;
  clock_.WaitReleased(*wait);
}

void ClockWaiter::ReleaseWaiters(int count) {
  for (ClockWait* w : waits_) {
    if (count == 0) break;
    if (!w->released) {
      Release(w);
      --count;
    }
  }
}

void Clock::Poke(ClockWaiter& waiter, int64_t now_ms) {
  // Taking the waiter's mutex before notifying means a waiter that read the
  // old time is already inside its wait and cannot miss this.
  std::lock_guard<std::mutex> g(waiter.mutex_);
  for (ClockWait* w : waiter.waits_) {
    if (w->deadline <= now_ms) waiter.Release(w);
  }
  waiter.cv_.notify_all();
}

namespace {
// Sleep is a wait for a signal that never comes.
class Sleeper : public ClockWaiter {
 public:
  using ClockWaiter::ClockWaiter;
  void Sleep(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitLocked(lock, ms, [] { return false; });
  }
};
}  // namespace

void Clock::Sleep(uint32_t ms) {
  if (!IsVirtual() && ms != kInfinite) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return;
  }
  Sleeper(*this).Sleep(ms);
}

bool Clock::LocalTime(TimeValue t, std::tm* out) const {
  // Windows refuses times before 1970; refuse them here as well so both
  // builds agree.
  if (t < 0) return false;
  const std::time_t value = t;
#ifdef _WIN32
  return localtime_s(out, &value) == 0;
#else
  return localtime_r(&value, out) != nullptr;
#endif
}

TimeValue Clock::MakeTime(std::tm* fields) const {
  fields->tm_isdst = -1;
  const std::time_t value = std::mktime(fields);
  if (value < 0 || value > INT32_MAX) return -1;
  return static_cast<TimeValue>(value);
}

TimeValue RealClock::Now() { return static_cast<TimeValue>(std::time(nullptr)); }

int64_t RealClock::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

namespace {
RealClock& TheRealClock() {
  static RealClock* clock = new RealClock();  // never destroyed: threads outlive main
  return *clock;
}
std::atomic<Clock*> installed_clock{nullptr};
}  // namespace

void SetTimeZoneForTesting(const char* tz) {
#ifdef _WIN32
  _putenv_s("TZ", tz ? tz : "");  // an empty value removes it
  _tzset();
#else
  if (tz) {
    setenv("TZ", tz, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
#endif
}

void UseStartupTimeZoneForTesting(const char* zone) {
#ifdef _WIN32
  (void)zone;
  _putenv_s("TZ", "");
  _tzset();
#else
  SetTimeZoneForTesting(zone);
#endif
}

Clock& SystemClock() {
  Clock* c = installed_clock.load();
  return c ? *c : TheRealClock();
}

void SetSystemClockForTesting(Clock* clock) { installed_clock.store(clock); }

}  // namespace platform
