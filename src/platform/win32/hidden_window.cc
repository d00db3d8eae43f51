// The window of foreground mode. Kept apart from the service calls: only the
// GUI program links the window system's libraries (gdi32).
#include "platform/hidden_window.h"

#include <windows.h>

namespace platform {
namespace {

LRESULT CALLBACK SchedWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_CREATE:
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcA(window, message, wparam, lparam);
  }
}

}  // namespace

uintptr_t RunHiddenWindow(void* instance, const char* name) {
  const HINSTANCE module = static_cast<HINSTANCE>(instance);
  WNDCLASSA window_class;
  window_class.style = CS_HREDRAW | CS_VREDRAW;
  window_class.lpfnWndProc = SchedWndProc;
  window_class.cbClsExtra = 0;
  window_class.cbWndExtra = 0;
  window_class.hInstance = module;
  window_class.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));
  window_class.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
  window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  window_class.lpszMenuName = name;
  window_class.lpszClassName = name;
  // Neither result is looked at: the message loop runs in any case.
  RegisterClassA(&window_class);
  const HWND window =
      CreateWindowExA(0, name, name, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, CW_USEDEFAULT,
                      CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, module, nullptr);
  ShowWindow(window, SW_HIDE);
  UpdateWindow(window);
  MSG message{};
  while (GetMessageA(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<uintptr_t>(message.wParam);
}

}  // namespace platform
