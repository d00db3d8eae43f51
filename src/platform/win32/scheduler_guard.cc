// The guard on Windows: a named mutex of the machine, and beside it a small
// named mapping with the holder's process id for the next in line. A mutex
// whose holder ended is abandoned, and the next waiter gets it.
#include "platform/scheduler_guard.h"

#include <windows.h>

#include <cstring>

#include "platform/process_info.h"
#include "platform/win32/open_to_everyone.h"

namespace platform {

namespace {

constexpr char kMutexName[] = "Global\\schedExe.scheduler";
constexpr char kHolderName[] = "Global\\schedExe.scheduler.holder";

class Win32SchedulerGuard final : public SchedulerGuard {
 public:
  Win32SchedulerGuard(HANDLE mutex, HANDLE holder) : mutex_(mutex), holder_(holder) {}
  ~Win32SchedulerGuard() override {
    // Released by the thread that took it; from any other thread the mutex
    // is abandoned when that thread ends, which hands it on as well.
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
    if (holder_) CloseHandle(holder_);
  }
  Win32SchedulerGuard(const Win32SchedulerGuard&) = delete;
  Win32SchedulerGuard& operator=(const Win32SchedulerGuard&) = delete;

 private:
  HANDLE mutex_;
  HANDLE holder_;  // keeps the holder's id readable while it holds the guard
};

std::string ErrorText(const char* what, DWORD code) {
  return std::string(what) + " (error " + std::to_string(code) + ")";
}

HANDLE OpenMutex(std::string* error) {
  win32::OpenToEveryone everyone;
  HANDLE mutex = everyone.get() ? CreateMutexA(everyone.get(), FALSE, kMutexName) : nullptr;
  if (!mutex && error) *error = ErrorText("cannot create the scheduler guard", GetLastError());
  return mutex;
}

std::unique_ptr<SchedulerGuard> Held(HANDLE mutex) {
  win32::OpenToEveryone everyone;
  HANDLE holder = CreateFileMappingA(INVALID_HANDLE_VALUE, everyone.get(), PAGE_READWRITE, 0,
                                     sizeof(DWORD), kHolderName);
  if (holder) {
    if (void* view = MapViewOfFile(holder, FILE_MAP_WRITE, 0, 0, sizeof(DWORD))) {
      const DWORD id = CurrentProcessId();
      std::memcpy(view, &id, sizeof id);
      UnmapViewOfFile(view);
    }
  }
  return std::make_unique<Win32SchedulerGuard>(mutex, holder);
}

uint32_t HolderId() {
  HANDLE holder = OpenFileMappingA(FILE_MAP_READ, FALSE, kHolderName);
  if (!holder) return 0;
  DWORD id = 0;
  if (const void* view = MapViewOfFile(holder, FILE_MAP_READ, 0, 0, sizeof(DWORD))) {
    std::memcpy(&id, view, sizeof id);
    UnmapViewOfFile(view);
  }
  CloseHandle(holder);
  return id;
}

bool Taken(DWORD wait) { return wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED; }

}  // namespace

std::unique_ptr<SchedulerGuard> SchedulerGuard::TryAcquire(const std::string&, uint32_t* holder,
                                                           std::string* error) {
  *holder = 0;
  HANDLE mutex = OpenMutex(error);
  if (!mutex) return nullptr;
  const DWORD wait = WaitForSingleObject(mutex, 0);
  if (Taken(wait)) return Held(mutex);
  if (wait == WAIT_TIMEOUT) {
    *holder = HolderId();
  } else if (error) {
    *error = ErrorText("cannot take the scheduler guard", GetLastError());
  }
  CloseHandle(mutex);
  return nullptr;
}

std::unique_ptr<SchedulerGuard> SchedulerGuard::Acquire(const std::string&, std::string* error) {
  HANDLE mutex = OpenMutex(error);
  if (!mutex) return nullptr;
  if (Taken(WaitForSingleObject(mutex, INFINITE))) return Held(mutex);
  if (error) *error = ErrorText("cannot take the scheduler guard", GetLastError());
  CloseHandle(mutex);
  return nullptr;
}

}  // namespace platform
