// A timer for the head of the queue: a thread that sleeps until the event is
// due and then fires it, unless the dispatcher cancelled it first.
#ifndef SCHEDEXE_ENGINE_EVENT_TIMER_H_
#define SCHEDEXE_ENGINE_EVENT_TIMER_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/event_queue.h"
#include "platform/event.h"

namespace engine {

class Scheduler;

// The largest whole number of seconds whose milliseconds fit a signed 32-bit
// sleep length.
inline constexpr int32_t kMaxSleepChunk = 2147483;

class EventTimer {
 public:
  EventTimer(Scheduler* scheduler, int32_t seconds, EventRef event);

  // Armed -> cancelled. Cancel and fire are compare-and-swap on one state, so
  // exactly one of them wins. A cancelled timer wakes at once.
  bool Cancel();
  // Armed -> firing, by the timer's own thread when its time is up.
  bool BeginFiring();
  // Firing -> fired, once the event is handed to the dispatcher.
  void EndFiring() { state_.store(State::kFired); }
  bool IsArmed() const { return state_.load() == State::kArmed; }
  bool IsFiring() const { return state_.load() == State::kFiring; }

  Scheduler* scheduler() const { return scheduler_; }
  const EventRef& event() const { return event_; }

 private:
  friend void TimerThread(const std::shared_ptr<EventTimer>& timer);
  enum class State { kArmed, kCancelled, kFiring, kFired };

  std::atomic<State> state_{State::kArmed};
  Scheduler* const scheduler_;
  // Touched only by the timer's own thread.
  uint32_t sleep_length_ = 0;
  int32_t chunk_ = 0;
  const int32_t max_chunk_ = kMaxSleepChunk;
  int32_t remaining_;
  const EventRef event_;
  platform::Event cancelled_;  // manual reset: ends the current sleep
};

// Sleeps the timer's seconds in chunks of at most kMaxSleepChunk, then fires.
void TimerThread(const std::shared_ptr<EventTimer>& timer);

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_EVENT_TIMER_H_
