// The service side of the process: the service control dispatcher, the
// control handler's registration, status reports, the process entry and the
// hidden window of foreground mode. Windows speaks to the service control
// manager; Linux runs under systemd (Type=notify): status reports are
// datagrams to NOTIFY_SOCKET and controls arrive as signals.
#ifndef SCHEDEXE_PLATFORM_SERVICE_HOST_H_
#define SCHEDEXE_PLATFORM_SERVICE_HOST_H_

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
// SIGUSR2 shutdown. Call PrepareProcessSignals first.
bool RunServiceDispatcher(const char* name, ServiceMainFunction service_main);

// RegisterServiceCtrlHandlerA. nullptr on failure (see LastError).
ServiceStatusHandle RegisterServiceControlHandler(const char* name,
                                                  ServiceControlHandler handler);

// SetServiceStatus. Linux: one datagram to NOTIFY_SOCKET with the lines
// STATUS=<state name>, X_SCHEDEXE_STATE, X_SCHEDEXE_CHECKPOINT,
// X_SCHEDEXE_WAIT_HINT, X_SCHEDEXE_CONTROLS, X_SCHEDEXE_WIN32_EXIT_CODE,
// X_SCHEDEXE_SERVICE_EXIT_CODE, plus READY=1 with a running report and
// STOPPING=1 with a stop-pending one. False when it could not be delivered.
bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status);

// The name a status report gives a state, as sc.exe shows it.
inline const char* ServiceStateName(uint32_t state) {
  switch (state) {
    case kServiceStopped: return "STOPPED";
    case kServiceStartPending: return "START_PENDING";
    case kServiceStopPending: return "STOP_PENDING";
    case kServiceRunning: return "RUNNING";
    case kServiceContinuePending: return "CONTINUE_PENDING";
    case kServicePausePending: return "PAUSE_PENDING";
    case kServicePaused: return "PAUSED";
    default: return "UNKNOWN";
  }
}

// Registers the window class `name` (the entry's instance handle, the system
// application icon and arrow cursor, white background), creates a hidden
// overlapped window of that class titled `name`, and runs the message loop
// until the window is destroyed from outside. Returns the quit message's
// wParam. Linux: blocks until SIGINT or SIGTERM, then returns 0.
uintptr_t RunHiddenWindow(void* instance, const char* name);

// To be called first thing in the entry, before any thread is started.
// Linux: blocks in this thread (and so in every thread started later) the
// signals that the dispatcher and the foreground wait take synchronously,
// and starts a thread that signals the named event `reload_event_name` for
// every SIGHUP. Windows: nothing.
void PrepareProcessSignals(const char* reload_event_name);

// The program's own command line (see OwnCommandLine in process_info.h),
// from the arguments the process entry was given.
std::string ProgramCommandLine();

// Sends `control` to the installed service `name` through the service
// control manager (0: send nothing) and then queries its status into
// *status. On failure returns false with the Win32 error in *error. Linux
// has no service control manager: fails with kErrorCallNotImplemented.
bool ControlServiceByName(const char* name, uint32_t control,
                          ServiceStatus* status, uint32_t* error);

// Asks the window of class `class_name` to close, as a user closing it
// would: its default handling destroys it, which ends RunHiddenWindow. False
// with the Win32 error in *error when there is no such window. Linux has no
// windows (foreground mode ends on SIGINT or SIGTERM): fails with
// kErrorCallNotImplemented.
bool CloseWindowOfClass(const char* class_name, uint32_t* error);

// Used by the process entry only (see program_entry.h).
void SetProgramArguments(int argc, char** argv);

// Ends the process with `code` once the entry has returned. The worker and
// engine threads are never joined, so they are stopped first: the static
// objects they use must not be destroyed under them. Standard streams are
// flushed. Windows: ExitProcess (which stops the other threads before any
// clean-up runs); Linux: _exit, after the flush.
[[noreturn]] void EndProcess(int code);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_SERVICE_HOST_H_
