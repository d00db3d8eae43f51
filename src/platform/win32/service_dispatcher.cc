#include "platform/service_dispatcher.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

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
  SERVICE_TABLE_ENTRYA table[] = {{service_name, ServiceMainEntry}, {nullptr, nullptr}};
  return StartServiceCtrlDispatcherA(table) != 0;
}

ServiceStatusHandle RegisterServiceControlHandler(const char* name, ServiceControlHandler handler) {
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
  return SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle), &record) != 0;
}

// The service manager keeps no words and knows no reload.
void SetServiceStatusText(const std::string&) {}
void ReportReloading(bool) {}

}  // namespace platform
