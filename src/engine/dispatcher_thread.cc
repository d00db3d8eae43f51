#include "engine/dispatcher_thread.h"

#include <memory>
#include <string>

#include "config/profile_access.h"
#include "engine/event_execution.h"
#include "engine/event_timer.h"
#include "engine/scheduler_host.h"
#include "platform/faults.h"
#include "platform/log.h"
#include "platform/service_dispatcher.h"

namespace engine {
namespace {

// What an operator sees the scheduler doing: the queue and what fires next.
std::string ActivityWords(size_t queued, const EventRef& head, const std::string& name) {
  if (!head) return "no events queued";
  return std::to_string(queued) + (queued == 1 ? " event" : " events") + " queued, next '" + name +
         "' (slot " + head->GetTask() + ") at " + LocalTimeText(head->GetNextTime());
}

}  // namespace

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
  size_t queued = 0;
  {
    platform::MutexLock lock(mutex_);
    queued = queue->events().size();
    if (queued != 0) {
      head = queue->events().front();
      // Cleared before the head is looked at, so a Wake from now on always
      // brings the dispatcher back.
      s.ClearPending();
    }
  }
  std::shared_ptr<EventTimer> current = s.CurrentTimer();
  if (!head) {
    // Every change of the queue wakes the dispatcher, which comes here.
    platform::ShowActivity(ActivityWords(0, head, ""));
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
    // A recurring event whose time of today passed before a start is moved
    // on as a matter of course; a one-time event lost is worth a warning.
    const bool once = head->GetFrequency() == schedule::OneTime;
    platform::LogParts(once ? platform::LogLevel::kWarning : platform::LogLevel::kNotice, "slot ",
                       head->GetTask(), " was due at ", LocalTimeText(head->GetNextTime()),
                       once ? ": one-time event overdue, deleted unrun"
                            : ": overdue, moved on without being started");
    // Due already: handled as fired, without being started.
    s.SetLastFired(head);
    s.Wake();
    return;
  }
  // Said once the head is known to lie ahead: an overdue one moves on first.
  platform::ShowActivity(ActivityWords(
      queued, head,
      config::ReadProfileText(GetDataFile(), config::kProfileSectionPrefix + head->GetTask(),
                              config::kNameKey)));
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
  // Never run and never re-armed: left at the head it would be found due
  // again at once, for ever.
  if (!event->AdvanceByFrequency()) return;
  AddEvent(*event);
}

}  // namespace engine
