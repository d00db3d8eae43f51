#include "engine/event_execution.h"

#include "engine/scheduler_host.h"

namespace engine {

int ExecutionThread(EventExecution* execution) {
  execution->host->RunFiredEvent(*execution->event);
  delete execution;
  return 1;
}

}  // namespace engine
