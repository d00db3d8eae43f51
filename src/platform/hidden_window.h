// The window of foreground mode: it keeps the program alive until it is
// closed from outside (Linux: until the process is asked to end).
#ifndef SCHEDEXE_PLATFORM_HIDDEN_WINDOW_H_
#define SCHEDEXE_PLATFORM_HIDDEN_WINDOW_H_

#include <cstdint>

namespace platform {

// Registers the window class `name` (the entry's instance handle, the system
// application icon and arrow cursor, white background), creates a hidden
// overlapped window of that class titled `name`, and runs the message loop
// until the window is destroyed from outside. Returns the quit message's
// wParam. Linux: blocks until SIGINT or SIGTERM, then returns 0.
uintptr_t RunHiddenWindow(void* instance, const char* name);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_HIDDEN_WINDOW_H_
