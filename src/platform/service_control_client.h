// The other side of service control: a program that sends a control to the
// installed service, or closes the window of a foreground run, as an
// operator would.
#ifndef SCHEDEXE_PLATFORM_SERVICE_CONTROL_CLIENT_H_
#define SCHEDEXE_PLATFORM_SERVICE_CONTROL_CLIENT_H_

#include <cstdint>

#include "platform/service_dispatcher.h"

namespace platform {

// Sends `control` to the installed service `name` through the service
// control manager (0: send nothing) and then queries its status into
// *status. On failure returns false with the Win32 error in *error. Linux
// has no service control manager: fails with kErrorCallNotImplemented.
bool ControlServiceByName(const char* name, uint32_t control, ServiceStatus* status,
                          uint32_t* error);

// Asks the window of class `class_name` to close, as a user closing it
// would: its default handling destroys it, which ends RunHiddenWindow
// (hidden_window.h). False with the Win32 error in *error when there is no
// such window. Linux has no windows (foreground mode ends on SIGINT or
// SIGTERM): fails with kErrorCallNotImplemented.
bool CloseWindowOfClass(const char* class_name, uint32_t* error);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_SERVICE_CONTROL_CLIENT_H_
