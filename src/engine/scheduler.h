// The object the dispatcher serves: whether it has work, which event was
// fired last, and the wake signal every other thread uses to make it look
// at the queue again.
#ifndef SCHEDEXE_ENGINE_SCHEDULER_H_
#define SCHEDEXE_ENGINE_SCHEDULER_H_

#include <atomic>
#include <memory>
#include <mutex>

#include "engine/event_queue.h"
#include "engine/thread_group.h"
#include "platform/event.h"

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

  // On the timer thread whose time is up: starts the event's execution,
  // hands the event to the dispatcher and wakes it.
  void Fire(const EventRef& event, EventTimer* timer);

  // lastFired: set by Fire and by the dispatcher for an overdue head; taken
  // by the dispatcher.
  void SetLastFired(EventRef event);
  EventRef TakeLastFired();

  // currentTimer: the timer most recently armed.
  std::shared_ptr<EventTimer> CurrentTimer();
  void SetCurrentTimer(std::shared_ptr<EventTimer> timer);
  // Clears currentTimer only while it still names `timer`.
  void ClearCurrentTimer(EventTimer* timer);

  EventQueue* queue() const { return queue_; }
  SchedulerHost* host() const { return host_; }
  ThreadGroup& threads() { return threads_; }

  std::atomic<bool> pendingFlag{true};
  platform::Event wakeEvent{false, false};
  // Set when a test takes the host down: the dispatcher leaves its loop.
  std::atomic<bool> stopping{false};

 private:
  EventQueue* const queue_;
  SchedulerHost* const host_;
  std::mutex mutex_;  // guards lastFired and currentTimer
  EventRef lastFired;
  std::shared_ptr<EventTimer> currentTimer;
  ThreadGroup threads_;
};

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_SCHEDULER_H_
