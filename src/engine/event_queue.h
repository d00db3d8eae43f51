// The live event queue: schedule events in due-time order, earliest first,
// at most one per task. It is reached only through the SchedulerHost, whose
// lock makes every operation one step towards the other threads; the queue
// itself takes no lock.
#ifndef SCHEDEXE_ENGINE_EVENT_QUEUE_H_
#define SCHEDEXE_ENGINE_EVENT_QUEUE_H_

#include <memory>
#include <string>
#include <vector>

#include "schedule/schedule_event.h"

namespace engine {

// An event leaving the queue lives on for as long as a timer or an execution
// thread still holds it.
using EventRef = std::shared_ptr<schedule::ScheduleEvent>;

class EventQueue {
 public:
  EventQueue() = default;
  virtual ~EventQueue() = default;
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // Index 0 is the head.
  const std::vector<EventRef>& events() const { return events_; }
  // Index of the first event whose task equals `task` byte for byte, or -1.
  int FindIndex(const std::string& task) const;
  // Before the first event due strictly later, so after every event due at
  // the same time.
  void InsertByDueTime(EventRef event);
  // At the tail, whatever its due time (the schedule text form's appends).
  void Append(EventRef event) { events_.push_back(std::move(event)); }
  // False when `index` names no event.
  bool RemoveAt(int index);
  // Takes this very object out; false when it is not queued.
  bool Remove(const EventRef& event);

 private:
  std::vector<EventRef> events_;
};

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_EVENT_QUEUE_H_
