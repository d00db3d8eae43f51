// The process entry of schedExe: foreground mode with "/d", otherwise the
// service control dispatcher.
#include <cstdint>
#include <cstdio>
#include <string>

#include "kvbase/tarn_object.h"
#include "platform/faults.h"
#include "platform/hidden_window.h"
#include "platform/log.h"
#include "platform/program_entry.h"
#include "platform/service_dispatcher.h"
#include "platform/thread.h"
#include "platform/working_set.h"
#include "service/command_line.h"
#include "service/service_control.h"
#include "worker/scheduler_worker.h"

namespace service {
namespace {

// The base library's object lives for the whole process; nothing uses it.
TarnObject tarn_object;

constexpr char kDispatcherFailure[] = "In StartServiceCtrlDispatcher";

// For whoever started the program by hand: the two ways it runs.
constexpr char kHandStartUsage[] =
    "usage: schedExe      the service, started by the service manager\n"
    "       schedExe /d   the scheduler in the foreground, until Ctrl-C or its window closes\n"
    "Setting up, operating and the tools beside it: see the README.";

// The service control manager and the real worker thread.
class PlatformServiceEnvironment final : public ServiceEnvironment {
 public:
  platform::ServiceStatusHandle RegisterHandler(const char* name,
                                                platform::ServiceControlHandler handler) override {
    return platform::RegisterServiceControlHandler(name, handler);
  }
  bool SetStatus(platform::ServiceStatusHandle handle,
                 const platform::ServiceStatus& status) override {
    return platform::ReportServiceStatus(handle, status);
  }
  uint32_t LastError() override { return platform::LastError(); }
  bool StartWorker() override { return platform::StartDetachedThread(worker::SchedulerWorker); }
  // The worker is held at a safe point rather than suspended from outside,
  // which could stop it inside a lock that the firing threads need.
  void PauseWorker() override { worker::WorkerPauseGate().Pause(); }
  void ResumeWorker() override { worker::WorkerPauseGate().Resume(); }
};

// Where the diagnostic texts go: the log, at `level`. The code is the
// service host's (Windows numbering on every OS).
void TraceMessage(const char* text, uint32_t error, platform::LogLevel level) {
  platform::LogParts(level, text, ": error ", std::to_string(error));
}

uintptr_t RunHiddenWindow(void* instance) {
  return platform::RunHiddenWindow(instance, kServiceName);
}

int ProcessEntry(void* instance, void*, char*, int) {
  platform::StartServiceLog(kServiceName);
  platform::PrepareProcessSignals(worker::kReloadEventName);
  platform::SetStatusSink(&platform::SetServiceStatusText);
  platform::SetTrimWhenIdle(true);
  static PlatformServiceEnvironment environment;
  SetServiceEnvironment(&environment);

  int count = 0;
  char* tokens[kMaxTokens];
  ParseCommandLine(&count, tokens);
  const bool foreground = IsForegroundRequest(count, tokens);
  if (foreground) {
    platform::LogParts(platform::LogLevel::kNotice, kServiceName, " started in the foreground");
    // A worker that fails to start leaves the window running all the same.
    if (!StartWorkerThread()) {
      TraceMessage("cannot start the worker thread", platform::LastError(),
                   platform::LogLevel::kError);
    }
    RunHiddenWindow(instance);
    platform::Log(platform::LogLevel::kNotice, "foreground run ended");
  }
  if (!platform::RunServiceDispatcher(kServiceName, ServiceMain)) {
    const uint32_t error = platform::LastError();
    if (!foreground && error == platform::kErrorFailedServiceControllerConnect) {
      // Someone started the program by hand and saw it end at once.
      std::fprintf(stderr,
                   "schedExe: not started as a service (error %u); \"schedExe /d\" runs the "
                   "scheduler in the foreground\n%s\n%s\n",
                   static_cast<unsigned>(error), kHandStartUsage, platform::ServiceLogPlace());
    }
    // After a foreground run the call is expected to fail.
    TraceMessage(kDispatcherFailure, error,
                 foreground || error == platform::kErrorFailedServiceControllerConnect
                     ? platform::LogLevel::kDebug
                     : platform::LogLevel::kError);
  }
  return 0;
}

}  // namespace
}  // namespace service

SCHEDEXE_PROGRAM_ENTRY(service::ProcessEntry)
