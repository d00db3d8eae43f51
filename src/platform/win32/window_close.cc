// Closing a program's window from outside, as a user would. Apart from the
// hidden window itself, so that a tool needs no drawing libraries for it.
#include <windows.h>

#include "platform/service_host.h"

namespace platform {

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
