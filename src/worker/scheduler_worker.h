// The worker thread: start-up (DMI libraries, engine, initial pass, reload
// event, backup/restore/mirror commands), then one reload pass for every
// "TARNSCHED" signal, for ever.
#ifndef SCHEDEXE_WORKER_SCHEDULER_WORKER_H_
#define SCHEDEXE_WORKER_SCHEDULER_WORKER_H_

#include <memory>
#include <string>

#include "engine/event_queue.h"
#include "engine/scheduler_host.h"
#include "platform/named_event.h"
#include "platform/scheduler_guard.h"
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

// The steps of SchedulerWorker, which runs them in this order on one thread.

// What the worker keeps for the process lifetime. The queue and the host are
// never deleted by the worker (tests take them down themselves).
struct Worker {
  engine::EventQueue* queue = nullptr;
  engine::SchedulerHost* host = nullptr;
  std::string data_file;
  std::unique_ptr<platform::NamedEvent> reload_event;
  // Held from before the initial pass on: one scheduler per agent.
  std::unique_ptr<platform::SchedulerGuard> guard;
};

// Installs WorkerPauseGate() for the calling thread, loads the DMI libraries
// (outcome ignored), and creates the live queue and the host, whose dispatcher
// is running when this returns.
void StartEngine(Worker* worker);

// Reads the data-file path, waits while another scheduler serves the same
// agent (saying so in the log and the status words) and takes its guard,
// runs the initial pass on a fresh snapshot,
// creates the reload event `eventName` (retrying until it can) and starts
// the backup/restore/mirror commands.
void StartServing(Worker* worker, const char* eventName);

// Starts ".\kvcmd /e24", detached and not waited for, once for every
// backup/restore/mirror profile of the data file whose package is 4.
void StartBackupCommands(const std::string& dataFile);

// Waits for one reload signal and runs the reload pass on a fresh snapshot.
void ServeOneReload(Worker* worker);

}  // namespace worker

#endif  // SCHEDEXE_WORKER_SCHEDULER_WORKER_H_
