#include "worker/scheduler_worker.h"

#include <algorithm>
#include <cstdint>
#include <set>

#include "config/data_file_path.h"
#include "config/profile_access.h"
#include "config/schedule_config.h"
#include "config/synchronisation_passes.h"
#include "dmi/dmi_library.h"
#include "engine/queue_publication.h"
#include "platform/clock.h"
#include "platform/env.h"
#include "platform/faults.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/retry_pause.h"
#include "platform/service_dispatcher.h"
#include "platform/working_set.h"

namespace worker {

namespace {

constexpr char kBackupSection[] = "Backup/Restore/Mirror Profiles";
constexpr char kBackupCountKey[] = "Number of Profiles";
constexpr char kBackupKeyPrefix[] = "Profile";
constexpr char kBackupProfileSectionPrefix[] = "Backup/Restore/Mirror Profile ";
constexpr char kPackageKey[] = "Package";
constexpr int kCommandPackage = 4;
// The command names no profile: every qualifying profile starts it once more.
constexpr char kBackupCommand[] = ".\\kvcmd /e24";
constexpr int kNameBufferSize = 256;
constexpr size_t kSectionBufferSize = 256;

// A count far beyond the keys that exist makes the literal scan repeat the
// one profile that a missing key names (the empty name) once per missing
// key: billions of identical starts of a detached program, which no machine
// finishes. Up to this many repeats the scan is the literal one; beyond it
// the repeats stop.
constexpr int64_t kMostRepeatedStarts = 4096;

// Whether the backup/restore/mirror profile `name` asks for the command. A
// name too long for the section buffer is refused rather than cut into the
// name of some other section.
bool WantsCommand(const std::string& dataFile, const std::string& name) {
  const std::string section = kBackupProfileSectionPrefix + name;
  if (section.size() >= kSectionBufferSize) return false;
  return config::ReadProfileInt(dataFile, section, kPackageKey) == kCommandPackage;
}

void StartBackupCommand() {
  // A paused worker stops between starts.
  platform::PausePoint();
  platform::LogParts(platform::LogLevel::kDebug, "starting ", kBackupCommand);
  platform::ProcessOutcome outcome;
  if (!platform::SystemEnv().StartProcessWithOutcome(kBackupCommand, platform::kDetachedProcess,
                                                     /*wait=*/false, &outcome)) {
    platform::LogParts(platform::LogLevel::kError, "cannot start ", kBackupCommand, ": ",
                       outcome.error ? platform::OsErrorText(outcome.error) : "unknown reason");
  }
}

std::unique_ptr<platform::NamedEvent> CreateReloadEvent(const char* name) {
  // Without the event no reload can ever be served.
  platform::RetryPause pause;
  bool told = false;
  while (true) {
    if (auto event = platform::NamedEvent::Create(name)) return event;
    if (!told) {
      platform::LogParts(platform::LogLevel::kError, "cannot create the reload event \"", name,
                         "\": ", platform::OsErrorText(platform::LastOsError()), "; retrying");
      told = true;
    }
    platform::PausePoint();
    pause.Sleep();
  }
}

// The agent's scheduler guard. A second scheduler would start every due
// event a second time: it waits here until the first has ended. A guard
// that cannot be made at all does not keep the scheduler from running.
std::unique_ptr<platform::SchedulerGuard> TakeSchedulerGuard(const std::string& data_file,
                                                             engine::SchedulerHost* host) {
  uint32_t holder = 0;
  std::string error;
  if (auto guard = platform::SchedulerGuard::TryAcquire(data_file, &holder, &error)) return guard;
  if (error.empty()) {
    const std::string other =
        holder != 0 ? "process " + std::to_string(holder) : std::string("another process");
    platform::LogParts(platform::LogLevel::kWarning, "another scheduler (", other,
                       ") serves this agent; waiting until it ends");
    platform::ShowActivity("waiting: another scheduler (" + other + ") serves this agent");
    if (auto guard = platform::SchedulerGuard::Acquire(data_file, &error)) {
      platform::LogParts(platform::LogLevel::kNotice, "the other scheduler (", other,
                         ") has ended; this one takes over");
      // The dispatcher puts its own words back.
      host->scheduler().Wake();
      return guard;
    }
  }
  platform::LogParts(platform::LogLevel::kWarning, error, "; running without the guard");
  return nullptr;
}

}  // namespace

platform::PauseGate& WorkerPauseGate() {
  static platform::PauseGate* gate = new platform::PauseGate;
  return *gate;
}

void StartEngine(Worker* worker) {
  platform::SetThreadPauseGate(&WorkerPauseGate());
  // The scheduler's own DMI updates do not need these libraries: whatever
  // the outcome, start-up goes on.
  if (dmi::ResolveDmiEntryPoints(dmi::LoadDmiLibrary(dmi::kInvokeLibraryName))) {
    platform::LogParts(platform::LogLevel::kInfo, "DMI provider libraries loaded");
  } else {
    platform::LogParts(platform::LogLevel::kNotice, "the DMI provider libraries (",
                       dmi::kInvokeLibraryName,
                       " and its registration library) are not all beside the program or "
                       "on the library path; start-up goes on");
  }
  platform::PausePoint();
  worker->queue = new engine::EventQueue;
  worker->host = new engine::SchedulerHost(worker->queue);
  // For schedexe-timers; the service runs the same without it.
  worker->host->StartPublishing(engine::QueuePublicationName());
}

void StartServing(Worker* worker, const char* eventName) {
  platform::PausePoint();
  worker->data_file = config::ReadDataFilePath();
  platform::LogParts(
      platform::LogLevel::kNotice, "data file: ",
      worker->data_file.empty() ? "(none)" : platform::NativePath(worker->data_file));
  worker->guard = TakeSchedulerGuard(worker->data_file, worker->host);
  platform::PausePoint();
  {
    worker->host->BeginPass();
    config::ScheduleConfig snapshot(worker->host);
    config::InitialPass(snapshot);
  }
  worker->host->EndPass();
  platform::PausePoint();
  // Made only now, so the first request it can carry is served after the
  // initial pass; one made earlier by another program keeps its signal.
  worker->reload_event = CreateReloadEvent(eventName);
  platform::PausePoint();
  StartBackupCommands(worker->data_file);
}

void StartBackupCommands(const std::string& dataFile) {
  const int count = config::ReadProfileInt(dataFile, kBackupSection, kBackupCountKey);
  if (count <= 0) return;
  // Each number whose key exists names its own profile.
  const std::set<int> listed =
      config::ListedKeyNumbers(dataFile, kBackupSection, kBackupKeyPrefix, count);
  for (int i : listed) {
    const std::string name = config::ReadProfileText(
        dataFile, kBackupSection, kBackupKeyPrefix + std::to_string(i), kNameBufferSize);
    if (WantsCommand(dataFile, name)) StartBackupCommand();
  }
  // Every other number reads the empty name, so names the same profile: it
  // is looked at once and its command started once per such number. Reads
  // change nothing and every start is the same command, so this order starts
  // exactly what the key-by-key scan would.
  const int64_t missing = int64_t{count} - static_cast<int64_t>(listed.size());
  if (missing > 0 && WantsCommand(dataFile, "")) {
    for (int64_t i = 0; i < std::min(missing, kMostRepeatedStarts); ++i) {
      StartBackupCommand();
    }
  }
}

void ServeOneReload(Worker* worker) {
  platform::PausePoint();
  // Until the next signal the worker has nothing to do: what the passes
  // touched need not stay resident.
  platform::TrimWhenIdle();
  // Auto-reset: any number of signals given meanwhile is one more reload.
  worker->reload_event->Wait(platform::kInfinite);
  // A suspended wait takes no signal, so every signal given until continue
  // is one reload. Held here instead, the worker has taken the first of
  // them: the rest, kept by the event as one, are this same reload.
  if (platform::PausePoint()) worker->reload_event->Wait(0);
  platform::ReportReloading(true);
  {
    worker->host->BeginPass();
    config::ScheduleConfig snapshot(worker->host);
    config::ReloadPass(snapshot);
  }
  worker->host->EndPass();
  platform::ReportReloading(false);
}

void SchedulerWorker() {
  Worker worker;
  StartEngine(&worker);
  StartServing(&worker, kReloadEventName);
  while (true) ServeOneReload(&worker);
}

}  // namespace worker
