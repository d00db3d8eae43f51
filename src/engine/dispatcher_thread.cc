#include "engine/dispatcher_thread.h"

#include <memory>

#include "engine/event_execution.h"
#include "engine/event_timer.h"
#include "engine/scheduler_host.h"
#include "platform/log.h"

namespace engine {

void DispatcherThread(Scheduler* scheduler) {
  SchedulerHost& host = *scheduler->host();
  while (!scheduler->IsStopping()) {
    if (scheduler->IsPending()) {
      // Taken, not read and cleared later: a firing that lands while this
      // one is handled is kept for the next turn.
      if (EventRef fired = scheduler->TakeLastFired()) host.HandleFiredEvent(fired);
      host.ArmTimer();
    } else {
      scheduler->AwaitWake();
    }
  }
}

void SchedulerHost::ArmTimer() {
  Scheduler& s = *scheduler_;
  if (s.IsStopping()) return;
  EventRef head;
  {
    platform::MutexLock lock(mutex_);
    if (!queue->events().empty()) {
      head = queue->events().front();
      // Cleared before the head is looked at, so a Wake from now on always
      // brings the dispatcher back.
      s.ClearPending();
    }
  }
  std::shared_ptr<EventTimer> current = s.CurrentTimer();
  if (!head) {
    // Nothing left to fire: an event a reload removed must not fire later.
    if (current) current->Cancel();
    s.AwaitWake();
    return;
  }
  if (current && !current->Cancel() && current->IsFiring()) {
    // Its time came first: Fire hands the event over and wakes us again.
    return;
  }
  const int32_t secs = schedule::SecondsUntil(*head);
  if (secs <= 0) {
    platform::LogParts(platform::LogLevel::kWarning, "slot ", head->GetTask(), " was due at ",
                       LocalTimeText(head->GetNextTime()),
                       head->GetFrequency() == schedule::OneTime
                           ? ": one-time event overdue, deleted unrun"
                           : ": overdue, moved on without being started");
    // Due already: handled as fired, without being started.
    s.SetLastFired(head);
    s.Wake();
    return;
  }
  auto timer = std::make_shared<EventTimer>(&s, secs, head);
  s.SetCurrentTimer(timer);
  // A timer that cannot start leaves the head for the next Wake to re-arm.
  s.threads().Start([timer] { TimerThread(timer); });
}

void SchedulerHost::HandleFiredEvent(const EventRef& event) {
  const int32_t frequency = event->GetFrequency();
  if (frequency == schedule::OneTime) {
    RemoveEvent(event->GetTask(), true);
    return;
  }
  // Only the queued object moves on. One a reload took out (or replaced)
  // while it fired is not put back: a deleted profile must not come back.
  if (!RemoveQueued(event)) return;
  switch (frequency) {
    case schedule::Hourly:
      event->AdvanceHour();
      break;
    case schedule::Daily:
      event->AdvanceDay();
      break;
    case schedule::Weekly:
      event->AdvanceWeek();
      break;
    case schedule::Monthly:
      event->AdvanceMonth();
      break;
    case schedule::Yearly:
      event->AdvanceYear();
      break;
    default:
      // Never run and never re-armed: left at the head it would be found due
      // again at once, for ever.
      return;
  }
  AddEvent(*event);
}

}  // namespace engine
