// File access for the profile data file: path translation, whole-file reads
// with a stamp that tells whether the file changed, a lock between writers of
// all processes, and replacement that a reader never sees half done.
#ifndef SCHEDEXE_PLATFORM_FILE_H_
#define SCHEDEXE_PLATFORM_FILE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// A Windows path as the OS of this build takes it (Linux: every '\' becomes
// '/'; Windows: unchanged).
std::string NativePath(std::string_view windows_path);

// What identifies one version of a file's contents: any write by any process
// changes at least one field.
struct FileStamp {
  uint64_t size = 0;
  int64_t mtime_ns = 0;
  uint64_t volume = 0;
  uint64_t id = 0;
  bool operator==(const FileStamp&) const = default;
};

enum class FileStatus {
  kOk,
  kMissing,  // no such file (or a path component is missing)
  kError,    // exists but cannot be read as a regular file (directory, no permission, ...)
};

// Stamp of a regular file.
FileStatus StatFile(const std::string& native_path, FileStamp* stamp);

// Reads the whole regular file; `stamp` (if given) belongs to what was read.
FileStatus ReadFileContents(const std::string& native_path, std::string* out, FileStamp* stamp);

// Exclusive lock shared by every process of this system that writes the file
// (it needs not exist). Released by destruction, or when the holder dies.
class FileWriteLock {
 public:
  virtual ~FileWriteLock() = default;
  // nullptr when the lock cannot be taken (error text in *error).
  static std::unique_ptr<FileWriteLock> Acquire(const std::string& native_path, std::string* error);
};

// Replaces the file's contents so that readers see the old or the new file,
// never a mix, and a crash at any instant leaves one of the two: writes a
// temporary file beside it, flushes it, and renames it over the file. Keeps
// the permissions of an existing file. False with the reason in *error.
bool ReplaceFileContents(const std::string& native_path, std::string_view data, std::string* error);
// How often this process called ReplaceFileContents, for tests that count
// whole-file writes.
uint64_t FileReplacementsForTesting();

// Removes temporary files that ReplaceFileContents left beside this file
// when its writer died. Call only while holding the FileWriteLock: every
// live writer makes its temporary file under that lock.
void RemoveStaleTemporaries(const std::string& native_path);

// Whether the folder that would hold this file exists (a missing file in an
// existing folder reads differently from a path that cannot exist).
bool ParentFolderExists(const std::string& native_path);

// The line end of a file this system creates (CRLF on Windows, LF on Linux).
std::string_view NativeLineEnd();

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_FILE_H_
