// process_info.h comes before windows.h: windows.h turns GetEnvironmentVariable
// into a macro, which must not rename the declaration.
#include "platform/process_info.h"

#include <windows.h>

#undef GetEnvironmentVariable

#include <cstring>
#include <vector>

namespace platform {

std::string OwnCommandLine(int, char**) { return GetCommandLineA(); }

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

void KeepThreadsTogether() {
  // The process has one heap already.
  SetProcessAffinityMask(GetCurrentProcess(), DWORD_PTR{1} << GetCurrentProcessorNumber());
}

std::string ExecutableDirectory() {
  // Paths may exceed MAX_PATH; a cut result fills the buffer exactly, so
  // grow until the name fits (the longest Windows path is 32767 characters).
  std::vector<char> path(MAX_PATH);
  DWORD length = 0;
  for (;;) {
    length = GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return "";
    if (length < path.size()) break;
    if (path.size() > 65536) return "";
    path.resize(path.size() * 2);
  }
  std::string name(path.data(), length);
  const size_t slash = name.find_last_of("\\/");
  if (slash == std::string::npos) return ".";
  return name.substr(0, slash);
}

bool AppendExclusive(const std::string& native_path, std::string_view data) {
  // FILE_APPEND_DATA without FILE_WRITE_DATA makes every write land at the
  // end; FILE_READ_DATA is there because LockFileEx wants read or write data
  // access.
  HANDLE file = CreateFileA(native_path.c_str(), FILE_APPEND_DATA | FILE_READ_DATA | SYNCHRONIZE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  // Windows byte-range locks are mandatory, so the lock sits far beyond any
  // data the file will hold: readers of the journal are never blocked.
  OVERLAPPED where;
  std::memset(&where, 0, sizeof(where));
  where.OffsetHigh = 0x7FFFFFFF;
  bool ok = false;
  if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &where)) {
    DWORD written = 0;
    ok = data.size() <= MAXDWORD &&
         WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
         written == data.size();
    UnlockFileEx(file, 0, 1, 0, &where);
  }
  CloseHandle(file);
  return ok;
}

std::string GetEnvironmentVariable(const char* name) {
  std::vector<char> value(256);
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return "";  // unset (or set to the empty text)
    // When the value does not fit, the result is the size it needs.
    if (length < value.size()) return std::string(value.data(), length);
    value.resize(length);
  }
}

}  // namespace platform
