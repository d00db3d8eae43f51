// The object the dispatcher serves: whether it has work, which event was
// fired last, and the wake signal every other thread uses to make it look
// at the queue again.
#ifndef SCHEDEXE_ENGINE_SCHEDULER_H_
#define SCHEDEXE_ENGINE_SCHEDULER_H_

#include <atomic>
#include <cstdint>
#include <memory>

#include "engine/event_queue.h"
#include "engine/thread_group.h"
#include "platform/clock_step.h"
#include "platform/event.h"
#include "platform/mutex.h"

namespace engine {

class EventTimer;
class SchedulerHost;

class Scheduler {
 public:
  Scheduler(EventQueue* queue, SchedulerHost* host);
  virtual ~Scheduler() = default;

  // Waits up to 1000 ms for a pending wake signal (taking it at once if there
  // is one), then sets pendingFlag and signals. That second of waiting is
  // what makes the dispatcher find events due right after a firing overdue.
  void Wake();

  // Watches the wall clock from now on: a set back wakes the dispatcher,
  // whose timer, a relative wait, would otherwise fire early by the new
  // clock. A set forward leaves the armed timer alone, so its event still
  // starts (late by the wall clock) rather than being found overdue and
  // moved on unrun.
  void WatchClockSteps();

  // On the timer thread whose time is up: starts the event's execution,
  // hands the event to the dispatcher and wakes it.
  void Fire(const EventRef& event, EventTimer* timer);

  // The dispatcher's side of the wake signal: whether a Wake came since the
  // flag was last cleared, clearing it, and blocking until the next signal.
  bool IsPending() const { return pendingFlag.load(); }
  void ClearPending() { pendingFlag = false; }
  void AwaitWake() { wakeEvent.Wait(platform::kInfinite); }
  // Whether a signal is waiting to be taken (tests look at it).
  bool WakeSignalled() { return wakeEvent.IsSet(); }

  // lastFired: set by Fire and by the dispatcher for an overdue head; taken
  // by the dispatcher.
  void SetLastFired(EventRef event) EXCLUDES(mutex_);
  EventRef TakeLastFired() EXCLUDES(mutex_);

  // currentTimer: the timer most recently armed.
  std::shared_ptr<EventTimer> CurrentTimer() EXCLUDES(mutex_);
  void SetCurrentTimer(std::shared_ptr<EventTimer> timer) EXCLUDES(mutex_);
  // Clears currentTimer only while it still names `timer`.
  void ClearCurrentTimer(EventTimer* timer) EXCLUDES(mutex_);

  // Taking the engine down, which only tests do: the dispatcher leaves its
  // loop and arms nothing more. Signals until every engine thread has ended
  // or `real_ms` of real time have passed; false when some thread is still
  // running then (the caller must not free what it may use).
  bool StopThreads(int real_ms);
  bool IsStopping() const { return stopping_.load(); }

  EventQueue* queue() const { return queue_; }
  SchedulerHost* host() const { return host_; }
  ThreadGroup& threads() { return threads_; }

 private:
  std::atomic<bool> pendingFlag{true};
  platform::Event wakeEvent{false, false};
  std::atomic<bool> stopping_{false};
  EventQueue* const queue_;
  SchedulerHost* const host_;
  platform::Mutex mutex_;
  EventRef lastFired GUARDED_BY(mutex_);
  std::shared_ptr<EventTimer> currentTimer GUARDED_BY(mutex_);
  ThreadGroup threads_;
  std::unique_ptr<platform::ClockStepWatch> step_watch_;  // first to go
};

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_SCHEDULER_H_
