// What a synchronisation pass needs of the engine's live queue. The engine's
// SchedulerHost implements it; a pass never sees more of the engine, so the
// configuration store stays below the engine that builds its snapshots.
#ifndef SCHEDEXE_CONFIG_LIVE_QUEUE_H_
#define SCHEDEXE_CONFIG_LIVE_QUEUE_H_

#include <string>

#include "schedule/schedule_event.h"

namespace config {

class LiveQueue {
 public:
  // Queues a copy in due-time order and wakes the dispatcher; a task that is
  // queued already is refused.
  virtual void AddEvent(const schedule::ScheduleEvent& event) = 0;
  // Takes the task's event out; with `oneTime` also marks its profile
  // deleted in the data file and in DMI, whether or not it was queued.
  virtual void RemoveEvent(const std::string& task, bool oneTime) = 0;
  // Makes the dispatcher look at the queue again.
  virtual void WakeScheduler() = 0;
  // Where later file writes of the engine go.
  virtual void SetDataFile(std::string path) = 0;

 protected:
  ~LiveQueue() = default;
};

}  // namespace config

#endif  // SCHEDEXE_CONFIG_LIVE_QUEUE_H_
