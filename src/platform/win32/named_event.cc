// "TARNSCHED" and its kind: kernel event objects any user may signal.
#include "platform/named_event.h"

#include <windows.h>

#include "platform/win32/open_to_everyone.h"

namespace platform {

namespace {

class Win32NamedEvent final : public NamedEvent {
 public:
  explicit Win32NamedEvent(HANDLE handle) : handle_(handle) {}
  ~Win32NamedEvent() override { CloseHandle(handle_); }
  Win32NamedEvent(const Win32NamedEvent&) = delete;
  Win32NamedEvent& operator=(const Win32NamedEvent&) = delete;

  bool Set() override { return SetEvent(handle_) != 0; }

  bool Wait(uint32_t ms) override { return WaitForSingleObject(handle_, ms) == WAIT_OBJECT_0; }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<NamedEvent> NamedEvent::Create(const char* name) {
  win32::OpenToEveryone everyone;
  if (!everyone.get()) return nullptr;
  // Auto-reset, not signalled; an existing event is opened with its state.
  HANDLE handle = CreateEventA(everyone.get(), FALSE, FALSE, name);
  if (handle == nullptr) return nullptr;
  return std::make_unique<Win32NamedEvent>(handle);
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const char* name) {
  HANDLE handle = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
  if (handle == nullptr) return nullptr;
  return std::make_unique<Win32NamedEvent>(handle);
}

}  // namespace platform
