#include "engine/scheduler.h"

#include <chrono>
#include <string>
#include <thread>
#include <utility>

#include "engine/event_execution.h"
#include "engine/event_timer.h"
#include "engine/scheduler_host.h"
#include "platform/log.h"

namespace engine {

namespace {
constexpr uint32_t kWakeWaitMs = 1000;

std::string StepText(int64_t ms) {
  if (ms < 0) ms = -ms;
  return std::to_string(ms / 1000) + "." + std::to_string(ms % 1000 / 100) + " s";
}
}  // namespace

Scheduler::Scheduler(EventQueue* queue, SchedulerHost* host) : queue_(queue), host_(host) {}

void Scheduler::Wake() {
  wakeEvent.Wait(kWakeWaitMs);
  pendingFlag = true;
  wakeEvent.Set();
}

void Scheduler::WatchClockSteps() {
  step_watch_ =
      std::make_unique<platform::ClockStepWatch>(platform::SystemClock(), [this](int64_t step_ms) {
        // A set to within a second is what a time service's correction
        // looks like: said, but not at the default level.
        const auto level = step_ms <= -1000 || step_ms >= 1000 ? platform::LogLevel::kNotice
                                                               : platform::LogLevel::kInfo;
        if (step_ms >= 0) {
          platform::LogParts(level, "the wall clock was set forward ", StepText(step_ms),
                             ": an armed event still starts when its wait ends");
          return;
        }
        platform::LogParts(level, "the wall clock was set back ", StepText(step_ms),
                           ": the next event is armed again for its due time");
        if (!IsStopping()) Wake();
      });
  if (!step_watch_->problem().empty()) {
    platform::LogParts(platform::LogLevel::kWarning,
                       "sets of the wall clock go unseen: ", step_watch_->problem());
  }
}

void Scheduler::Fire(const EventRef& event, EventTimer* timer) {
  if (host_) host_->NoteFired(*event);
  auto* execution = new EventExecution(host_, event);
  if (!threads_.Start([execution] { ExecutionThread(execution); })) {
    delete execution;
  }
  SetLastFired(event);
  if (timer) timer->EndFiring();
  Wake();
}

void Scheduler::SetLastFired(EventRef event) {
  platform::MutexLock lock(mutex_);
  lastFired = std::move(event);
}

EventRef Scheduler::TakeLastFired() {
  platform::MutexLock lock(mutex_);
  return std::exchange(lastFired, nullptr);
}

std::shared_ptr<EventTimer> Scheduler::CurrentTimer() {
  platform::MutexLock lock(mutex_);
  return currentTimer;
}

void Scheduler::SetCurrentTimer(std::shared_ptr<EventTimer> timer) {
  platform::MutexLock lock(mutex_);
  currentTimer = std::move(timer);
}

void Scheduler::ClearCurrentTimer(EventTimer* timer) {
  platform::MutexLock lock(mutex_);
  if (currentTimer.get() == timer) currentTimer.reset();
}

bool Scheduler::StopThreads(int real_ms) {
  stopping_ = true;
  step_watch_.reset();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(real_ms);
  // A Wake in progress and the dispatcher may both be waiting for the one
  // auto-reset signal, and a dispatcher that was arming when the stop came
  // may just have started one more timer: signal until everyone has left.
  while (threads_.Live() > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    if (auto timer = CurrentTimer()) timer->Cancel();
    wakeEvent.Set();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace engine
