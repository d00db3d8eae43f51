// The Win32 Env: the real registry and CreateProcessA.
#include "platform/env.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace platform {

namespace {

class Win32Env final : public Env {
 public:
  RegistryStatus ReadRegistryString(const char* subkey, const char* value_name, char* buffer,
                                    size_t size) override {
    if (size > 0) buffer[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) {
      return RegistryStatus::kNoKey;
    }
    const RegistryStatus status = QueryString(key, value_name, buffer, size);
    RegCloseKey(key);
    if (status != RegistryStatus::kOk && size > 0) buffer[0] = '\0';
    return status;
  }

  bool StartProcess(const char* command_line, uint32_t creation_flags, bool wait) override {
    ProcessOutcome outcome;
    return StartProcessWithOutcome(command_line, creation_flags, wait, &outcome);
  }

  bool StartProcessWithOutcome(const char* command_line, uint32_t creation_flags, bool wait,
                               ProcessOutcome* outcome) override {
    *outcome = ProcessOutcome();
    // CreateProcessA may write into the command line, so it gets a copy.
    std::vector<char> writable(command_line, command_line + std::strlen(command_line) + 1);
    STARTUPINFOA startup;
    std::memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    std::memset(&process, 0, sizeof(process));
    if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE, creation_flags, nullptr,
                        nullptr, &startup, &process)) {
      outcome->error = GetLastError();
      return false;
    }
    if (wait) {
      WaitForSingleObject(process.hProcess, INFINITE);
      DWORD code = 0;
      if (GetExitCodeProcess(process.hProcess, &code)) {
        outcome->exit_code_known = true;
        outcome->exit_code = code;
      }
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return true;
  }

 private:
  static RegistryStatus QueryString(HKEY key, const char* value_name, char* buffer, size_t size) {
    if (size == 0) return RegistryStatus::kUnreadable;
    // The registry never holds a value near 4 GB; a larger buffer is simply
    // not used in full.
    DWORD bytes = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
    DWORD type = REG_NONE;
    // ERROR_MORE_DATA lands here too: a value that does not fit is refused,
    // never cut.
    if (RegQueryValueExA(key, value_name, nullptr, &type, reinterpret_cast<BYTE*>(buffer),
                         &bytes) != ERROR_SUCCESS) {
      return RegistryStatus::kUnreadable;
    }
    // Environment references of an expandable string stay as written.
    if (type != REG_SZ && type != REG_EXPAND_SZ) {
      return RegistryStatus::kUnreadable;
    }
    // A string stored without its terminator comes back without one; it is
    // terminated here when the buffer has room, refused otherwise.
    if (std::memchr(buffer, '\0', bytes) == nullptr) {
      if (bytes >= size) return RegistryStatus::kUnreadable;
      buffer[bytes] = '\0';
    }
    return RegistryStatus::kOk;
  }
};

}  // namespace

Env& DefaultEnv() {
  static Win32Env* env = new Win32Env();  // never destroyed: threads outlive main
  return *env;
}

}  // namespace platform
