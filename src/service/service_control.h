// The service "schedExe": ServiceMain, the control handler, status reports,
// and the start, pause, resume and stop of the one worker thread. Plain
// functions over process-wide state, as the service control manager calls
// them.
#ifndef SCHEDEXE_SERVICE_SERVICE_CONTROL_H_
#define SCHEDEXE_SERVICE_SERVICE_CONTROL_H_

#include <cstdint>

#include "platform/service_dispatcher.h"

namespace service {

inline constexpr char kServiceName[] = "schedExe";
inline constexpr char kServiceMainGreeting[] = "Inside ServiceMain\n";

// What the service control needs from outside: the service control
// manager's calls and the worker thread. The program installs the real one;
// tests install a fake that records the reports.
class ServiceEnvironment {
 public:
  virtual ~ServiceEnvironment() = default;

  virtual platform::ServiceStatusHandle RegisterHandler(
      const char* name, platform::ServiceControlHandler handler) = 0;
  virtual bool SetStatus(platform::ServiceStatusHandle handle,
                         const platform::ServiceStatus& status) = 0;
  virtual uint32_t LastError() = 0;
  // Starts the worker thread, detached. False when it could not be made.
  virtual bool StartWorker() = 0;
  // Holds the worker at its next safe point / lets it go on.
  virtual void PauseWorker() = 0;
  virtual void ResumeWorker() = 0;
};

// Must be installed before ServiceMain or StartWorkerThread runs.
void SetServiceEnvironment(ServiceEnvironment* environment);

// Fills the status record and reports it; on failure stops the service
// before returning 0. Non-zero on success.
int ReportStatus(uint32_t state, uint32_t win32_exit_code, uint32_t service_specific_exit_code,
                 uint32_t check_point, uint32_t wait_hint);

// 1 when the worker thread was started (and the running flag set), else 0.
int StartWorkerThread();
void PauseWorker();
void ResumeWorker();
// Clears the running flag and sets the stop event.
void StopService();
// Closes the stop event, reports stopped with `win32_error` (when a handler
// is registered).
void CleanupService(uint32_t win32_error);

void ServiceCtrlHandler(uint32_t control);
void ServiceMain(uint32_t argc, char** argv);

// The flags, as the handler sees them.
bool WorkerRunning();
bool WorkerPaused();

// Back to the state at process start. Tests only.
void ResetServiceStateForTesting();

}  // namespace service

#endif  // SCHEDEXE_SERVICE_SERVICE_CONTROL_H_
