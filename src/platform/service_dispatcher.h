// The service side of the process: the service control dispatcher, the
// control handler's registration and status reports. Windows speaks to the
// service control manager; Linux runs under systemd (Type=notify): status
// reports are datagrams to NOTIFY_SOCKET and controls arrive as signals.
#ifndef SCHEDEXE_PLATFORM_SERVICE_DISPATCHER_H_
#define SCHEDEXE_PLATFORM_SERVICE_DISPATCHER_H_

#include <cstdint>
#include <string>

namespace platform {

// Service states, with their Windows values.
constexpr uint32_t kServiceStopped = 1;
constexpr uint32_t kServiceStartPending = 2;
constexpr uint32_t kServiceStopPending = 3;
constexpr uint32_t kServiceRunning = 4;
constexpr uint32_t kServiceContinuePending = 5;
constexpr uint32_t kServicePausePending = 6;
constexpr uint32_t kServicePaused = 7;

// Control codes.
constexpr uint32_t kControlStop = 1;
constexpr uint32_t kControlPause = 2;
constexpr uint32_t kControlContinue = 3;
constexpr uint32_t kControlInterrogate = 4;
constexpr uint32_t kControlShutdown = 5;

// Bits of the controls a status report accepts.
constexpr uint32_t kAcceptStop = 1;
constexpr uint32_t kAcceptPauseContinue = 2;
constexpr uint32_t kAcceptShutdown = 4;

// A service in a process of its own.
constexpr uint32_t kServiceWin32OwnProcess = 0x10;

// Win32 error codes this layer hands out.
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorGenFailure = 31;
constexpr uint32_t kErrorCallNotImplemented = 120;
constexpr uint32_t kErrorServiceDoesNotExist = 1060;
constexpr uint32_t kErrorFailedServiceControllerConnect = 1063;
constexpr uint32_t kErrorServiceSpecificError = 1066;

// The Windows SERVICE_STATUS record.
struct ServiceStatus {
  uint32_t service_type = 0;
  uint32_t current_state = 0;
  uint32_t controls_accepted = 0;
  uint32_t win32_exit_code = 0;
  uint32_t service_specific_exit_code = 0;
  uint32_t check_point = 0;
  uint32_t wait_hint = 0;
};

// Opaque; nullptr means none.
using ServiceStatusHandle = void*;
using ServiceMainFunction = void (*)(uint32_t argc, char** argv);
using ServiceControlHandler = void (*)(uint32_t control);

// The error code of the calling thread's last failed call of this layer
// (Windows: GetLastError).
uint32_t LastError();

// StartServiceCtrlDispatcherA with a table of the one service `name` and its
// main function. Returns true once the service has stopped and its main
// function has returned; false at once when the process was not started as
// a service (LastError 1063).
// Linux: without NOTIFY_SOCKET in the environment it fails as outside the
// service control manager. Otherwise `service_main` runs on a thread of its
// own while the calling thread turns signals into controls for the handler:
// SIGTERM stop, SIGTSTP pause, SIGCONT continue, SIGUSR1 interrogate,
// SIGUSR2 shutdown. Call PrepareProcessSignals (program_entry.h) first.
bool RunServiceDispatcher(const char* name, ServiceMainFunction service_main);

// RegisterServiceCtrlHandlerA. nullptr on failure (see LastError).
ServiceStatusHandle RegisterServiceControlHandler(const char* name, ServiceControlHandler handler);

// SetServiceStatus. Linux: one datagram to NOTIFY_SOCKET with the lines
// STATUS=<state name>: <words>, X_SCHEDEXE_STATE, X_SCHEDEXE_CHECKPOINT,
// X_SCHEDEXE_WAIT_HINT, X_SCHEDEXE_CONTROLS, X_SCHEDEXE_WIN32_EXIT_CODE,
// X_SCHEDEXE_SERVICE_EXIT_CODE, plus READY=1 with a running report and
// STOPPING=1 with a stop-pending one. False when it could not be delivered.
bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

// Words for an operator about what the service is doing ("3 events queued,
// next 'Backup' at 16:00:00"), shown after the state name of the running
// and paused reports from now on. Linux: also sent at once, in a message
// that is no report, while the service runs or is paused. Windows: the
// service manager has no place for them; nothing.
void SetServiceStatusText(const std::string& words);

// A reload begins or has ended. Linux: systemd shows the service as
// reloading in between (RELOADING=1, then READY=1). Windows: nothing.
void ReportReloading(bool reloading);

// The name a status report gives a state, as sc.exe shows it.
inline const char* ServiceStateName(uint32_t state) {
  switch (state) {
    case kServiceStopped:
      return "STOPPED";
    case kServiceStartPending:
      return "START_PENDING";
    case kServiceStopPending:
      return "STOP_PENDING";
    case kServiceRunning:
      return "RUNNING";
    case kServiceContinuePending:
      return "CONTINUE_PENDING";
    case kServicePausePending:
      return "PAUSE_PENDING";
    case kServicePaused:
      return "PAUSED";
    default:
      return "UNKNOWN";
  }
}

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_SERVICE_DISPATCHER_H_
