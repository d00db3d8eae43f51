#include "platform/service_host.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/process_info.h"

namespace platform {
namespace {

// The service control manager calls these with the Windows calling
// convention; they pass on to the program's plain functions.
std::atomic<ServiceMainFunction> service_main_function{nullptr};
std::atomic<ServiceControlHandler> control_handler{nullptr};

void WINAPI ServiceMainEntry(DWORD argc, LPSTR* argv) {
  const ServiceMainFunction main_function = service_main_function.load();
  if (main_function != nullptr) main_function(argc, argv);
}

void WINAPI ControlHandlerEntry(DWORD control) {
  const ServiceControlHandler handler = control_handler.load();
  if (handler != nullptr) handler(control);
}

}  // namespace

uint32_t LastError() { return GetLastError(); }

bool RunServiceDispatcher(const char* name, ServiceMainFunction service_main) {
  // The table wants writable names.
  static char service_name[257];
  std::snprintf(service_name, sizeof(service_name), "%s", name);
  service_main_function = service_main;
  SERVICE_TABLE_ENTRYA table[] = {{service_name, ServiceMainEntry},
                                  {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) != 0;
}

ServiceStatusHandle RegisterServiceControlHandler(const char* name,
                                                  ServiceControlHandler handler) {
  control_handler = handler;
  return reinterpret_cast<ServiceStatusHandle>(
      RegisterServiceCtrlHandlerA(name, ControlHandlerEntry));
}

bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  SERVICE_STATUS record;
  record.dwServiceType = status.service_type;
  record.dwCurrentState = status.current_state;
  record.dwControlsAccepted = status.controls_accepted;
  record.dwWin32ExitCode = status.win32_exit_code;
  record.dwServiceSpecificExitCode = status.service_specific_exit_code;
  record.dwCheckPoint = status.check_point;
  record.dwWaitHint = status.wait_hint;
  return SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle),
                          &record) != 0;
}

void PrepareProcessSignals(const char*) {}

void SetProgramArguments(int, char**) {}

void EndProcess(int code) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(code));
}

std::string ProgramCommandLine() { return OwnCommandLine(0, nullptr); }

bool ControlServiceByName(const char* name, uint32_t control,
                          ServiceStatus* status, uint32_t* error) {
  *error = 0;
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    *error = GetLastError();
    return false;
  }
  const SC_HANDLE service =
      OpenServiceA(manager, name,
                   SERVICE_QUERY_STATUS | SERVICE_STOP |
                       SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE);
  if (service == nullptr) {
    *error = GetLastError();
    CloseServiceHandle(manager);
    return false;
  }
  SERVICE_STATUS record{};
  bool ok = true;
  if (control != 0 && !ControlService(service, control, &record)) {
    *error = GetLastError();
    ok = false;
  }
  if (ok && !QueryServiceStatus(service, &record)) {
    *error = GetLastError();
    ok = false;
  }
  if (ok) {
    status->service_type = record.dwServiceType;
    status->current_state = record.dwCurrentState;
    status->controls_accepted = record.dwControlsAccepted;
    status->win32_exit_code = record.dwWin32ExitCode;
    status->service_specific_exit_code = record.dwServiceSpecificExitCode;
    status->check_point = record.dwCheckPoint;
    status->wait_hint = record.dwWaitHint;
  }
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return ok;
}

}  // namespace platform
