// A hidden top-level window on a thread of its own: the system sends
// WM_TIMECHANGE to every top-level window when the time is set.
#include "platform/clock_step.h"

#include <windows.h>

#include <future>
#include <thread>
#include <utility>

namespace platform {
namespace {

constexpr char kClassName[] = "schedExe clock watch";

LRESULT CALLBACK WatchWndProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_TIMECHANGE) {
    auto* on_set =
        reinterpret_cast<std::function<void()>*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (on_set) (*on_set)();
    return 0;
  }
  if (message == WM_CLOSE) {
    DestroyWindow(window);
    return 0;
  }
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

class WindowSource final : public ClockSetSource {
 public:
  explicit WindowSource(std::function<void()> on_set) : on_set_(std::move(on_set)) {}
  ~WindowSource() override {
    if (window_) PostMessageA(window_, WM_CLOSE, 0, 0);
    if (thread_.joinable()) thread_.join();
  }
  WindowSource(const WindowSource&) = delete;
  WindowSource& operator=(const WindowSource&) = delete;

  // The window is made on the thread that serves its messages.
  bool Start(std::string* error) {
    std::promise<DWORD> made;
    std::future<DWORD> result = made.get_future();
    thread_ = std::thread([this, &made] { Run(made); });
    const DWORD code = result.get();
    if (code == 0) return true;
    *error = "no window for the system's time-change notice (error " + std::to_string(code) + ")";
    thread_.join();
    return false;
  }

 private:
  void Run(std::promise<DWORD>& made) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = WatchWndProc;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kClassName;
    RegisterClassA(&window_class);  // a second watch finds it registered
    HWND window = CreateWindowExA(0, kClassName, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                  window_class.hInstance, nullptr);
    if (!window) {
      made.set_value(GetLastError() ? GetLastError() : ERROR_INVALID_WINDOW_HANDLE);
      return;
    }
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&on_set_));
    window_ = window;
    made.set_value(0);
    MSG message{};
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
  }

  const std::function<void()> on_set_;
  HWND window_ = nullptr;  // set before Start returns, then only read
  std::thread thread_;
};

}  // namespace

std::unique_ptr<ClockSetSource> StartClockSetSource(std::function<void()> on_set,
                                                    std::string* error) {
  auto source = std::make_unique<WindowSource>(std::move(on_set));
  if (!source->Start(error)) return nullptr;
  return source;
}

}  // namespace platform
