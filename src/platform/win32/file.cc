#include "platform/file.h"

#include <windows.h>

#include <atomic>
#include <cstdio>

#include "platform/temporary_names.h"
#include "platform/text.h"

namespace platform {

namespace {

std::string LastErrorText(const char* what, const std::string& path, DWORD err) {
  return std::string(what) + " " + path + ": error " + std::to_string(err);
}

void SplitPath(const std::string& path, std::string* dir, std::string* base) {
  const size_t sep = path.find_last_of("\\/");
  if (sep == std::string::npos) {
    *dir = ".";
    *base = path;
  } else {
    *dir = path.substr(0, sep == 0 ? 1 : sep);
    *base = path.substr(sep + 1);
    // "C:" alone names the drive's current folder, not its root.
    if (dir->size() == 2 && (*dir)[1] == ':') *dir += '\\';
  }
}

// 100 ns ticks since 1601 to ns since 1970.
int64_t TicksToNs(uint64_t ticks) {
  return (static_cast<int64_t>(ticks) - 116444736000000000LL) * 100;
}

FileStamp StampOf(HANDLE h, const BY_HANDLE_FILE_INFORMATION& info) {
  FileStamp s;
  s.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  s.mtime_ns = TicksToNs((static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                         info.ftLastWriteTime.dwLowDateTime);
  // The change time, which SetFileTime cannot put back.
  FILE_BASIC_INFO basic;
  s.ctime_ns = GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic)
                   ? TicksToNs(static_cast<uint64_t>(basic.ChangeTime.QuadPart))
                   : s.mtime_ns;
  s.volume = info.dwVolumeSerialNumber;
  s.id = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return s;
}

FileStatus StatusOfError(DWORD err) {
  return (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND || err == ERROR_INVALID_NAME ||
          err == ERROR_BAD_NETPATH)
             ? FileStatus::kMissing
             : FileStatus::kError;
}

// Opens an existing regular file for reading, letting writers replace or
// delete it meanwhile. A folder, a device (NUL, CON, COM1) or a pipe is an
// error with the last error 0: a read from a console or a pipe would wait
// for input. Opening them waits for nothing (a pipe without a free instance
// fails at once), so the type is checked on the handle: the name could
// change between a check and the open.
HANDLE OpenForRead(const std::string& path, FileStatus* status) {
  const DWORD attrs = GetFileAttributesA(path.c_str());
  if (attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    *status = FileStatus::kError;
    SetLastError(0);
    return INVALID_HANDLE_VALUE;
  }
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    *status = StatusOfError(GetLastError());
    return h;
  }
  if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    *status = FileStatus::kError;
    SetLastError(0);
    return INVALID_HANDLE_VALUE;
  }
  *status = FileStatus::kOk;
  return h;
}

bool WriteAll(HANDLE h, std::string_view data) {
  while (!data.empty()) {
    const DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
    DWORD written = 0;
    if (!WriteFile(h, data.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    data.remove_prefix(written);
  }
  return true;
}

// A named mutex, not a lock on a file: the data file need not exist, a lock
// file would be litter that other programs of the agent could trip over, and
// a mutex whose holder dies is handed on (WAIT_ABANDONED) instead of staying
// taken. The name comes from the full lower-cased path, so every spelling of
// one file meets in one mutex.
class Win32FileWriteLock : public FileWriteLock {
 public:
  explicit Win32FileWriteLock(HANDLE mutex) : mutex_(mutex) {}
  ~Win32FileWriteLock() override {
    ReleaseMutex(mutex_);
    CloseHandle(mutex_);
  }

 private:
  HANDLE mutex_;
};

std::string FullPath(const std::string& path) {
  char buf[MAX_PATH * 4];
  const DWORD n = GetFullPathNameA(path.c_str(), sizeof buf, buf, nullptr);
  if (n == 0 || n >= sizeof buf) return path;
  return std::string(buf, n);
}

}  // namespace

std::string NativePath(std::string_view windows_path) { return std::string(windows_path); }

int64_t FileClockNowNs() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  return TicksToNs((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

bool StampIsSettled(const std::string&, const FileStamp& stamp, int64_t clock_before_ns) {
  // NTFS and the network redirector update times lazily and in coarse steps.
  return clock_before_ns - stamp.ctime_ns > 2'000'000'000;
}

std::string WriteTarget(const std::string& native_path) { return native_path; }

FileStatus StatFile(const std::string& native_path, FileStamp* stamp) {
  FileStatus status;
  HANDLE h = OpenForRead(native_path, &status);
  if (h == INVALID_HANDLE_VALUE) return status;
  BY_HANDLE_FILE_INFORMATION info;
  const bool ok = GetFileInformationByHandle(h, &info);
  if (ok && stamp) *stamp = StampOf(h, info);
  CloseHandle(h);
  return ok ? FileStatus::kOk : FileStatus::kError;
}

FileStatus ReadFileContents(const std::string& native_path, std::string* out, FileStamp* stamp) {
  out->clear();
  FileStatus status;
  HANDLE h = OpenForRead(native_path, &status);
  if (h == INVALID_HANDLE_VALUE) return status;
  FileStatus result = FileStatus::kError;
  // An in-place rewrite can change the file while we read; read again until
  // the stamps before and after agree.
  for (int attempt = 0; attempt < 5; ++attempt) {
    BY_HANDLE_FILE_INFORMATION before, after;
    if (!GetFileInformationByHandle(h, &before)) break;
    const FileStamp before_stamp = StampOf(h, before);
    LARGE_INTEGER zero;
    zero.QuadPart = 0;
    if (!SetFilePointerEx(h, zero, nullptr, FILE_BEGIN)) break;
    out->clear();
    char buf[65536];
    bool failed = false;
    for (;;) {
      DWORD n = 0;
      if (!ReadFile(h, buf, sizeof buf, &n, nullptr)) {
        failed = true;
        break;
      }
      if (n == 0) break;
      out->append(buf, n);
    }
    if (failed || !GetFileInformationByHandle(h, &after)) break;
    const FileStamp s = StampOf(h, after);
    result = FileStatus::kOk;
    if (s == before_stamp && s.size == out->size()) {
      if (stamp) *stamp = s;
      break;
    }
    if (stamp) {
      *stamp = s;
      stamp->mtime_ns = -1;  // never matches a cache entry
    }
  }
  CloseHandle(h);
  if (result != FileStatus::kOk) out->clear();
  return result;
}

std::unique_ptr<FileWriteLock> FileWriteLock::Acquire(const std::string& native_path,
                                                      std::string* error) {
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  const DWORD attrs = GetFileAttributesA(dir.c_str());
  if (attrs == INVALID_FILE_ATTRIBUTES || !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    if (error) *error = LastErrorText("no such folder", dir, GetLastError());
    return nullptr;
  }
  std::string full = FoldCase(FullPath(native_path));
  for (char& c : full) {
    if (c == '/') c = '\\';
  }
  uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : full) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char name[64];
  std::snprintf(name, sizeof name, "Local\\schedexe.kvbase.%016llx",
                static_cast<unsigned long long>(hash));
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  if (!mutex) {
    if (error) *error = LastErrorText("cannot create lock for", full, GetLastError());
    return nullptr;
  }
  const DWORD r = WaitForSingleObject(mutex, INFINITE);
  // WAIT_ABANDONED: the last holder died; the mutex is ours all the same,
  // and the file is whole because every write replaces it atomically.
  if (r != WAIT_OBJECT_0 && r != WAIT_ABANDONED) {
    if (error) *error = LastErrorText("cannot take lock for", full, GetLastError());
    CloseHandle(mutex);
    return nullptr;
  }
  return std::make_unique<Win32FileWriteLock>(mutex);
}

void RemoveStaleTemporaries(const std::string& native_path) {
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  const std::string pattern = dir + "\\" + TempPrefix(base) + "*" + kTempSuffix;
  WIN32_FIND_DATAA found;
  HANDLE h = FindFirstFileA(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeleteFileA((dir + "\\" + found.cFileName).c_str());
    }
  } while (FindNextFileA(h, &found));
  FindClose(h);
}

namespace {

// The fallback when the file is held open without delete sharing, so that
// it cannot be renamed over: rewrite it in place. Not atomic, but the only
// way such a file can change at all.
bool RewriteInPlace(const std::string& path, std::string_view data, std::string* error) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = LastErrorText("cannot open", path, GetLastError());
    return false;
  }
  bool ok = WriteAll(h, data) && SetEndOfFile(h) && FlushFileBuffers(h);
  if (!ok && error) *error = LastErrorText("cannot rewrite", path, GetLastError());
  CloseHandle(h);
  return ok;
}

}  // namespace

namespace {

std::atomic<uint64_t> replacements{0};

}  // namespace

uint64_t FileReplacementsForTesting() { return replacements.load(); }

bool ReplaceFileContents(const std::string& native_path, std::string_view data,
                         std::string* error) {
  ++replacements;
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  const DWORD old_attrs = GetFileAttributesA(native_path.c_str());
  const bool existed = old_attrs != INVALID_FILE_ATTRIBUTES;
  if (existed && (old_attrs & FILE_ATTRIBUTE_DIRECTORY)) {
    if (error) *error = native_path + ": not a regular file";
    return false;
  }
  if (existed && (old_attrs & FILE_ATTRIBUTE_READONLY)) {
    if (error) *error = native_path + ": file is read-only";
    return false;
  }
  static std::atomic<unsigned> counter{0};
  std::string temp;
  HANDLE h = INVALID_HANDLE_VALUE;
  DWORD err = 0;
  for (int attempt = 0; attempt < 100 && h == INVALID_HANDLE_VALUE; ++attempt) {
    temp = dir + "\\" + TemporaryName(base, GetCurrentProcessId(), counter++);
    h = CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                    nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      err = GetLastError();
      if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS) break;
    }
  }
  if (h == INVALID_HANDLE_VALUE) {
    if (error) *error = LastErrorText("cannot create temporary file", temp, err);
    return false;
  }
  if (!WriteAll(h, data) || !FlushFileBuffers(h)) {
    err = GetLastError();
    CloseHandle(h);
    DeleteFileA(temp.c_str());
    if (error) *error = LastErrorText("cannot write", temp, err);
    return false;
  }
  CloseHandle(h);
  // A rename over the old file is atomic: a reader opens the old file or the
  // new one, never no file. ReplaceFileA is not used for that reason (it may
  // move the old file aside first). The new file gets the old one's
  // attributes; its security comes from the folder, as the old file's did.
  if (existed) SetFileAttributesA(temp.c_str(), old_attrs);
  if (MoveFileExA(temp.c_str(), native_path.c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  err = GetLastError();
  SetFileAttributesA(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(temp.c_str());
  if (existed && (err == ERROR_SHARING_VIOLATION || err == ERROR_ACCESS_DENIED)) {
    return RewriteInPlace(native_path, data, error);
  }
  if (error) *error = LastErrorText("cannot replace", native_path, err);
  return false;
}

bool ParentFolderExists(const std::string& native_path) {
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  const DWORD attrs = GetFileAttributesA(dir.c_str());
  return attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY);
}

std::string_view NativeLineEnd() { return "\r\n"; }

}  // namespace platform
