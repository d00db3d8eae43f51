#include "support/manual_clock.h"

#include <chrono>

#include "platform/clock_step.h"

namespace testsupport {

ManualClock::ManualClock(platform::TimeValue start) : start_(start) {}

platform::TimeValue ManualClock::Now() {
  return static_cast<platform::TimeValue>(start_ + wall_step_s_.load() + now_ms_.load() / 1000);
}

void ManualClock::StepWallSeconds(int64_t s) {
  wall_step_s_ += s;
  std::lock_guard<std::mutex> g(step_mutex_);
  for (platform::ClockStepWatch* watch : step_watches_) watch->Stepped(s * 1000);
}

void ManualClock::AddStepWatch(platform::ClockStepWatch* watch) {
  std::lock_guard<std::mutex> g(step_mutex_);
  step_watches_.insert(watch);
}

void ManualClock::RemoveStepWatch(platform::ClockStepWatch* watch) {
  std::lock_guard<std::mutex> g(step_mutex_);
  step_watches_.erase(watch);
}

void ManualClock::Register(platform::ClockWaiter* w) {
  std::lock_guard<std::mutex> g(registry_mutex_);
  waiters_.insert(w);
}

void ManualClock::Unregister(platform::ClockWaiter* w) {
  std::lock_guard<std::mutex> g(registry_mutex_);
  waiters_.erase(w);
}

void ManualClock::WaitBegins(const platform::ClockWait& wait) {
  std::lock_guard<std::mutex> g(wait_mutex_);
  ++blocked_;
  if (wait.deadline != INT64_MAX) deadlines_.insert(wait.deadline);
  waits_changed_.notify_all();
}

void ManualClock::WaitReleased(const platform::ClockWait& wait) {
  std::lock_guard<std::mutex> g(wait_mutex_);
  --blocked_;
  if (wait.deadline != INT64_MAX) deadlines_.erase(deadlines_.find(wait.deadline));
  waits_changed_.notify_all();
}

void ManualClock::AdvanceMs(int64_t ms) {
  const int64_t now = now_ms_.fetch_add(ms) + ms;
  // Lock order: registry, then each waiter's own mutex.
  std::lock_guard<std::mutex> g(registry_mutex_);
  for (platform::ClockWaiter* w : waiters_) Poke(*w, now);
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
  return waits_changed_.wait_for(lock, std::chrono::milliseconds(real_ms),
                                 [&] { return static_cast<int>(deadlines_.size()) >= n; });
}

}  // namespace testsupport
