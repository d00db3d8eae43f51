// The named mutex on Windows: a kernel mutex any user may open.
#include "platform/named_mutex.h"

#include <windows.h>

#include "platform/win32/open_to_everyone.h"

namespace platform {

namespace {

class Win32NamedMutex final : public NamedMutex {
 public:
  explicit Win32NamedMutex(HANDLE handle) : handle_(handle) {}
  ~Win32NamedMutex() override { CloseHandle(handle_); }
  Win32NamedMutex(const Win32NamedMutex&) = delete;
  Win32NamedMutex& operator=(const Win32NamedMutex&) = delete;

  bool Lock() override { return Acquired(WaitForSingleObject(handle_, INFINITE)); }
  bool TryLock() override { return Acquired(WaitForSingleObject(handle_, 0)); }
  bool Unlock() override { return ReleaseMutex(handle_) != 0; }

 private:
  // An abandoned mutex (its holder ended without releasing it) is ours now,
  // just as a released one.
  static bool Acquired(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED; }

  HANDLE handle_;
};

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(const char* name) {
  win32::OpenToEveryone everyone;
  if (!everyone.get()) return nullptr;
  // Not owned at creation; an existing mutex is opened as it is.
  HANDLE handle = CreateMutexA(everyone.get(), FALSE, name);
  if (handle == nullptr) return nullptr;
  return std::make_unique<Win32NamedMutex>(handle);
}

}  // namespace platform
