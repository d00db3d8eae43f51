#include "platform/service_control_client.h"

#include <cstdint>

namespace platform {

// Linux has neither a service control manager nor windows: systemctl sends
// the controls, and signals end a foreground run.
bool ControlServiceByName(const char*, uint32_t, ServiceStatus*, uint32_t* error) {
  *error = kErrorCallNotImplemented;
  return false;
}

bool CloseWindowOfClass(const char*, uint32_t* error) {
  *error = kErrorCallNotImplemented;
  return false;
}

}  // namespace platform
