#include "engine/scheduler.h"

#include <utility>

#include "engine/event_execution.h"
#include "engine/event_timer.h"

namespace engine {

namespace {
constexpr uint32_t kWakeWaitMs = 1000;
}  // namespace

Scheduler::Scheduler(EventQueue* queue, SchedulerHost* host)
    : queue_(queue), host_(host) {}

void Scheduler::Wake() {
  wakeEvent.Wait(kWakeWaitMs);
  pendingFlag = true;
  wakeEvent.Set();
}

void Scheduler::Fire(const EventRef& event, EventTimer* timer) {
  auto* execution = new EventExecution(host_, event);
  if (!threads_.Start([execution] { ExecutionThread(execution); })) {
    delete execution;
  }
  SetLastFired(event);
  if (timer) timer->EndFiring();
  Wake();
}

void Scheduler::SetLastFired(EventRef event) {
  std::lock_guard<std::mutex> g(mutex_);
  lastFired = std::move(event);
}

EventRef Scheduler::TakeLastFired() {
  std::lock_guard<std::mutex> g(mutex_);
  return std::exchange(lastFired, nullptr);
}

std::shared_ptr<EventTimer> Scheduler::CurrentTimer() {
  std::lock_guard<std::mutex> g(mutex_);
  return currentTimer;
}

void Scheduler::SetCurrentTimer(std::shared_ptr<EventTimer> timer) {
  std::lock_guard<std::mutex> g(mutex_);
  currentTimer = std::move(timer);
}

void Scheduler::ClearCurrentTimer(EventTimer* timer) {
  std::lock_guard<std::mutex> g(mutex_);
  if (currentTimer.get() == timer) currentTimer.reset();
}

}  // namespace engine
