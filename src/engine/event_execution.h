// The work of one fired event, on a thread of its own so that neither the
// timer nor the dispatcher waits for wactivate. The host's part of it,
// RunFiredEvent and LaunchActivation, is defined in event_execution.cc.
#ifndef SCHEDEXE_ENGINE_EVENT_EXECUTION_H_
#define SCHEDEXE_ENGINE_EVENT_EXECUTION_H_

#include <string>

#include "engine/event_queue.h"

namespace engine {

class SchedulerHost;

class EventExecution {
 public:
  EventExecution(SchedulerHost* owner, EventRef fired) : host(owner), event(std::move(fired)) {}
  virtual ~EventExecution() = default;

  SchedulerHost* const host;
  const EventRef event;
};

// Runs the fired event on its host, then deletes the execution. Returns 1.
int ExecutionThread(EventExecution* execution);

// A due time as the log shows it: local "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText(schedule::TimeValue t);

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_EVENT_EXECUTION_H_
