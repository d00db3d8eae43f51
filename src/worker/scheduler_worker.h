// The worker thread: start-up (DMI libraries, engine, initial pass, reload
// event, backup/restore/mirror commands), then one reload pass for every
// "TARNSCHED" signal, for ever.
#ifndef SCHEDEXE_WORKER_SCHEDULER_WORKER_H_
#define SCHEDEXE_WORKER_SCHEDULER_WORKER_H_

#include "platform/thread.h"

namespace worker {

inline constexpr char kReloadEventName[] = "TARNSCHED";

// Where a pause of the service holds the worker. The worker thread installs
// it as its own gate (platform::SetThreadPauseGate), so it stops at the next
// platform::PausePoint(): between the steps of its start-up, between the
// events of a pass, before every DMI command and every reload, never while
// it holds a lock.
platform::PauseGate& WorkerPauseGate();

// The worker thread's procedure. Never returns.
void SchedulerWorker();

}  // namespace worker

#endif  // SCHEDEXE_WORKER_SCHEDULER_WORKER_H_
