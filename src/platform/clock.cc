#include "platform/clock.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <thread>

namespace platform {

ClockWaiter::ClockWaiter(Clock& clock) : clock_(clock) { clock_.Register(this); }

ClockWaiter::~ClockWaiter() { clock_.Unregister(this); }

void ClockWaiter::WaitSome(std::unique_lock<std::mutex>& lock,
                           int64_t deadline) {
  auto& manual = static_cast<ManualClock&>(clock_);
  WaitRecord record{deadline, false};
  records_.push_back(&record);
  manual.BeginWait(&record);
  cv_.wait(lock);
  records_.erase(std::find(records_.begin(), records_.end(), &record));
  manual.EndWait(&record);
}

void ClockWaiter::ReleaseWaiters(int count) {
  if (!clock_.IsVirtual()) return;
  auto& manual = static_cast<ManualClock&>(clock_);
  for (WaitRecord* r : records_) {
    if (count == 0) break;
    if (!r->released) {
      manual.Release(r);
      --count;
    }
  }
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

TimeValue RealClock::Now() {
  return static_cast<TimeValue>(std::time(nullptr));
}

int64_t RealClock::NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

ManualClock::ManualClock(TimeValue start) : start_(start) {}

TimeValue ManualClock::Now() {
  return static_cast<TimeValue>(start_ + now_ms_.load() / 1000);
}

void ManualClock::Register(ClockWaiter* w) {
  std::lock_guard<std::mutex> g(registry_mutex_);
  waiters_.insert(w);
}

void ManualClock::Unregister(ClockWaiter* w) {
  std::lock_guard<std::mutex> g(registry_mutex_);
  waiters_.erase(w);
}

void ManualClock::BeginWait(ClockWaiter::WaitRecord* r) {
  std::lock_guard<std::mutex> g(wait_mutex_);
  ++blocked_;
  if (r->deadline != INT64_MAX) deadlines_.insert(r->deadline);
  waits_changed_.notify_all();
}

void ManualClock::Release(ClockWaiter::WaitRecord* r) {
  std::lock_guard<std::mutex> g(wait_mutex_);
  r->released = true;
  --blocked_;
  if (r->deadline != INT64_MAX) deadlines_.erase(deadlines_.find(r->deadline));
  waits_changed_.notify_all();
}

void ManualClock::EndWait(ClockWaiter::WaitRecord* r) {
  // A wake-up nobody released (a poke for another deadline): the thread
  // runs now and blocks again in a moment.
  if (!r->released) Release(r);
}

void ManualClock::AdvanceMs(int64_t ms) {
  const int64_t now = now_ms_.fetch_add(ms) + ms;
  // Lock order: registry, then each waiter's own mutex. Taking the waiter's
  // mutex before notifying means a waiter that read the old time is already
  // inside its wait and cannot miss this.
  std::lock_guard<std::mutex> g(registry_mutex_);
  for (ClockWaiter* w : waiters_) {
    std::lock_guard<std::mutex> wg(w->mutex_);
    for (ClockWaiter::WaitRecord* r : w->records_) {
      if (!r->released && r->deadline <= now) Release(r);
    }
    w->cv_.notify_all();
  }
}

int64_t ManualClock::EarliestDeadline() {
  std::lock_guard<std::mutex> g(wait_mutex_);
  return deadlines_.empty() ? -1 : *deadlines_.begin();
}

bool ManualClock::AdvanceToNextDeadline() {
  const int64_t next = EarliestDeadline();
  if (next < 0) return false;
  const int64_t now = NowMs();
  AdvanceMs(next > now ? next - now : 0);
  return true;
}

int ManualClock::TimedWaiters() {
  std::lock_guard<std::mutex> g(wait_mutex_);
  return static_cast<int>(deadlines_.size());
}

int ManualClock::Blocked() {
  std::lock_guard<std::mutex> g(wait_mutex_);
  return blocked_;
}

void ManualClock::AwaitBlockedChange(int count, int real_us) {
  std::unique_lock<std::mutex> lock(wait_mutex_);
  if (blocked_ >= count) return;
  waits_changed_.wait_for(lock, std::chrono::microseconds(real_us));
}

bool ManualClock::AwaitTimedWaiters(int n, int real_ms) {
  std::unique_lock<std::mutex> lock(wait_mutex_);
  return waits_changed_.wait_for(
      lock, std::chrono::milliseconds(real_ms),
      [&] { return static_cast<int>(deadlines_.size()) >= n; });
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
  _putenv_s("TZ", tz);
  _tzset();
#else
  setenv("TZ", tz, 1);
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
