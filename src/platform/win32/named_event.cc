// "TARNSCHED" and its kind: kernel event objects any user may signal.
#include "platform/named_event.h"

#include <windows.h>

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
  // A present but null DACL grants everyone every access, so programs of any
  // user (the service runs as LocalSystem) may open and signal the event.
  SECURITY_DESCRIPTOR descriptor;
  if (!InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor, TRUE, nullptr, FALSE)) {
    return nullptr;
  }
  SECURITY_ATTRIBUTES attributes;
  attributes.nLength = sizeof(attributes);
  attributes.lpSecurityDescriptor = &descriptor;
  attributes.bInheritHandle = FALSE;
  // Auto-reset, not signalled; an existing event is opened with its state.
  HANDLE handle = CreateEventA(&attributes, FALSE, FALSE, name);
  if (handle == nullptr) return nullptr;
  return std::make_unique<Win32NamedEvent>(handle);
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const char* name) {
  HANDLE handle = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, name);
  if (handle == nullptr) return nullptr;
  return std::make_unique<Win32NamedEvent>(handle);
}

}  // namespace platform
