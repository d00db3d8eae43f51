// The live event queue: schedule events in due-time order, earliest first,
// at most one per task. It is reached only through the SchedulerHost, whose
// lock makes every operation one step towards the other threads.
#ifndef SCHEDEXE_ENGINE_EVENT_QUEUE_H_
#define SCHEDEXE_ENGINE_EVENT_QUEUE_H_

#include <memory>
#include <vector>

#include "schedule/schedule_event.h"

namespace engine {

using EventRef = std::shared_ptr<schedule::ScheduleEvent>;

class EventQueue {
 public:
  EventQueue() = default;
  virtual ~EventQueue() = default;
  EventQueue(const EventQueue&) = delete;
  EventQueue& operator=(const EventQueue&) = delete;

  // An event leaving the queue lives on for as long as a timer or an
  // execution thread still holds it.
  std::vector<EventRef> events;
};

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_EVENT_QUEUE_H_
