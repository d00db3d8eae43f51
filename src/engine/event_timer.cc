#include "engine/event_timer.h"

#include <utility>

#include "engine/scheduler.h"

namespace engine {

EventTimer::EventTimer(Scheduler* scheduler, int32_t seconds, EventRef event)
    : scheduler_(scheduler),
      remaining(seconds),
      event_(std::move(event)),
      cancelled_(true, false) {}

bool EventTimer::Cancel() {
  int expected = kArmed;
  if (!state_.compare_exchange_strong(expected, kCancelled)) return false;
  cancelled_.Set();
  return true;
}

bool EventTimer::BeginFiring() {
  int expected = kArmed;
  return state_.compare_exchange_strong(expected, kFiring);
}

void TimerThread(std::shared_ptr<EventTimer> timer) {
  while (timer->IsArmed()) {
    timer->chunk = timer->remaining > timer->maxChunk ? timer->maxChunk
                                                       : timer->remaining;
    timer->remaining -= timer->chunk;
    timer->sleepLength = static_cast<uint32_t>(timer->chunk) * 1000u;
    timer->cancelled_.Wait(timer->sleepLength);
    if (timer->remaining == 0 && timer->BeginFiring()) {
      timer->scheduler()->Fire(timer->event(), timer.get());
    }
  }
  timer->scheduler()->ClearCurrentTimer(timer.get());
}

}  // namespace engine
