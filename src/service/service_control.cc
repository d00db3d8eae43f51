#include "service/service_control.h"

#include <atomic>
#include <cstdio>

#include "platform/clock.h"
#include "platform/event.h"
#include "platform/log.h"

namespace service {
namespace {

using platform::ServiceStatusHandle;

std::atomic<ServiceEnvironment*> environment{nullptr};
std::atomic<ServiceStatusHandle> status_handle{nullptr};
// The handler reads both flags on the main thread while ServiceMain's thread
// may write the running flag; atomics keep that free of data races.
std::atomic<int> running_flag{0};
std::atomic<int> paused_flag{0};

// The stop event is never destroyed: a late stop request on the main thread
// may still set it after ServiceMain has "closed" it, and setting a closed
// event must stay harmless.
// It waits in real time, whatever clock a test may have installed.
platform::Event& StopEvent() {
  static platform::RealClock* const clock = new platform::RealClock;
  static platform::Event* const event = new platform::Event(
      /*manual_reset=*/true, /*initially_set=*/false, *clock);
  return *event;
}
std::atomic<bool> stop_event_open{false};

void CreateStopEvent() {
  StopEvent().Reset();
  stop_event_open = true;
}

ServiceEnvironment& Env() { return *environment.load(); }

}  // namespace

void SetServiceEnvironment(ServiceEnvironment* env) { environment = env; }

int ReportStatus(uint32_t state, uint32_t win32_exit_code, uint32_t service_specific_exit_code,
                 uint32_t check_point, uint32_t wait_hint) {
  platform::ServiceStatus status;
  status.service_type = platform::kServiceWin32OwnProcess;
  status.current_state = state;
  // No control can be handled before the worker exists.
  status.controls_accepted =
      state == platform::kServiceStartPending
          ? 0
          : platform::kAcceptStop | platform::kAcceptPauseContinue | platform::kAcceptShutdown;
  status.win32_exit_code =
      service_specific_exit_code != 0 ? platform::kErrorServiceSpecificError : win32_exit_code;
  status.service_specific_exit_code = service_specific_exit_code;
  status.check_point = check_point;
  status.wait_hint = wait_hint;
  if (!Env().SetStatus(status_handle.load(), status)) {
    // The manager no longer hears us: nothing is left to do but stop.
    StopService();
    return 0;
  }
  return 1;
}

int StartWorkerThread() {
  if (!Env().StartWorker()) return 0;
  running_flag = 1;
  return 1;
}

void PauseWorker() {
  paused_flag = 1;
  Env().PauseWorker();
}

void ResumeWorker() {
  paused_flag = 0;
  Env().ResumeWorker();
}

void StopService() {
  running_flag = 0;
  if (stop_event_open) StopEvent().Set();
}

void CleanupService(uint32_t win32_error) {
  using platform::LogLevel;
  if (win32_error != 0) {
    platform::LogParts(LogLevel::kError,
                       "service start failed: ", platform::OsErrorText(win32_error));
  } else {
    platform::Log(LogLevel::kNotice, "service stopped");
  }
  stop_event_open = false;
  if (status_handle.load() != nullptr) {
    ReportStatus(platform::kServiceStopped, win32_error, 0, 0, 0);
  }
}

void ServiceCtrlHandler(uint32_t control) {
  switch (control) {
    case platform::kControlStop:
      platform::Log(platform::LogLevel::kNotice, "stop requested");
      ReportStatus(platform::kServiceStopPending, 0, 0, 1, 5000);
      StopService();
      break;
    case platform::kControlPause:
      if (running_flag == 1 && paused_flag == 0) {
        ReportStatus(platform::kServicePausePending, 0, 0, 1, 1000);
        PauseWorker();
        ReportStatus(platform::kServicePaused, 0, 0, 0, 0);
        platform::Log(platform::LogLevel::kNotice,
                      "paused: due events still fire, reloads wait for continue");
      }
      break;
    case platform::kControlContinue:
      if (running_flag == 1 && paused_flag == 1) {
        ReportStatus(platform::kServiceContinuePending, 0, 0, 1, 1000);
        ResumeWorker();
        ReportStatus(platform::kServiceRunning, 0, 0, 0, 0);
        platform::Log(platform::LogLevel::kNotice, "continued");
      }
      break;
    default:
      // Interrogate, shutdown and anything else: the last report stands.
      break;
  }
}

void ServiceMain(uint32_t, char**) {
  std::printf("%s", kServiceMainGreeting);
  // Standard output of a service is usually a file or a pipe: make the line
  // visible now rather than at process end.
  std::fflush(stdout);

  status_handle = Env().RegisterHandler(kServiceName, ServiceCtrlHandler);
  if (status_handle.load() == nullptr) return CleanupService(Env().LastError());
  if (!ReportStatus(platform::kServiceStartPending, 0, 0, 1, 5000)) {
    return CleanupService(Env().LastError());
  }
  CreateStopEvent();
  if (!ReportStatus(platform::kServiceStartPending, 0, 0, 2, 1000)) {
    return CleanupService(Env().LastError());
  }
  if (!StartWorkerThread()) return CleanupService(Env().LastError());
  if (!ReportStatus(platform::kServiceRunning, 0, 0, 0, 0)) {
    return CleanupService(Env().LastError());
  }
  platform::LogParts(platform::LogLevel::kNotice, kServiceName, " started as a service");
  StopEvent().Wait(platform::kInfinite);
  CleanupService(0);
}

bool WorkerRunning() { return running_flag == 1; }
bool WorkerPaused() { return paused_flag == 1; }

void ResetServiceStateForTesting() {
  status_handle = nullptr;
  running_flag = 0;
  paused_flag = 0;
  stop_event_open = false;
  StopEvent().Reset();
}

}  // namespace service
