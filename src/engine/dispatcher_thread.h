// The dispatcher: arms a timer for the head of the queue and moves fired
// events on, for as long as the scheduler runs.
#ifndef SCHEDEXE_ENGINE_DISPATCHER_THREAD_H_
#define SCHEDEXE_ENGINE_DISPATCHER_THREAD_H_

#include "engine/scheduler.h"

namespace engine {

// Thread procedure; SchedulerHost starts it once. Its steps are the host's
// ArmTimer and HandleFiredEvent, defined beside it.
void DispatcherThread(Scheduler* scheduler);

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_DISPATCHER_THREAD_H_
