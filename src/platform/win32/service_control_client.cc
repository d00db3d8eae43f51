#include "platform/service_control_client.h"

#include <windows.h>

namespace platform {

bool ControlServiceByName(const char* name, uint32_t control, ServiceStatus* status,
                          uint32_t* error) {
  *error = 0;
  const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  if (manager == nullptr) {
    *error = GetLastError();
    return false;
  }
  const SC_HANDLE service = OpenServiceA(
      manager, name,
      SERVICE_QUERY_STATUS | SERVICE_STOP | SERVICE_PAUSE_CONTINUE | SERVICE_INTERROGATE);
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

// Kept apart from the hidden window, so that a tool that closes it links no
// drawing libraries.
bool CloseWindowOfClass(const char* class_name, uint32_t* error) {
  const HWND window = FindWindowA(class_name, nullptr);
  if (window == nullptr || !PostMessageA(window, WM_CLOSE, 0, 0)) {
    *error = GetLastError();
    if (*error == 0) *error = ERROR_INVALID_WINDOW_HANDLE;
    return false;
  }
  *error = 0;
  return true;
}

}  // namespace platform
