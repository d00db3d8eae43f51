#include "engine/event_timer.h"

#include <utility>

#include "engine/scheduler.h"

namespace engine {

EventTimer::EventTimer(Scheduler* scheduler, int32_t seconds, EventRef event)
    : scheduler_(scheduler),
      remaining_(seconds),
      event_(std::move(event)),
      cancelled_(true, false) {}

bool EventTimer::Cancel() {
  State expected = State::kArmed;
  if (!state_.compare_exchange_strong(expected, State::kCancelled)) return false;
  cancelled_.Set();
  return true;
}

bool EventTimer::BeginFiring() {
  State expected = State::kArmed;
  return state_.compare_exchange_strong(expected, State::kFiring);
}

void TimerThread(const std::shared_ptr<EventTimer>& timer) {
  while (timer->IsArmed()) {
    timer->chunk_ = timer->remaining_ > timer->max_chunk_ ? timer->max_chunk_ : timer->remaining_;
    timer->remaining_ -= timer->chunk_;
    timer->sleep_length_ = static_cast<uint32_t>(timer->chunk_) * 1000u;
    timer->cancelled_.Wait(timer->sleep_length_);
    if (timer->remaining_ == 0 && timer->BeginFiring()) {
      timer->scheduler()->Fire(timer->event(), timer.get());
    }
  }
  timer->scheduler()->ClearCurrentTimer(timer.get());
}

}  // namespace engine
