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

// What identifies one version of a file's contents. A different stamp proves
// that the file changed; the same stamp proves nothing by itself: a write in
// the same clock tick as the last change, of the same size, in place (or into
// a reused file id), leaves every field as it was. The change time is the
// one a program cannot put back (touch -r, editors that keep times).
struct FileStamp {
  uint64_t size = 0;
  int64_t mtime_ns = 0;
  int64_t ctime_ns = 0;  // last change of contents or attributes
  uint64_t volume = 0;
  uint64_t id = 0;
  bool operator==(const FileStamp&) const = default;
};

// Now on the clock that the file system stamps changes with, in ns since
// 1970. Take it before reading a file: if StampIsSettled says so for what was
// read, any later write gives the file another stamp.
int64_t FileClockNowNs();

// Whether `stamp`, read after `clock_before_ns` (FileClockNowNs), proves from
// then on that the file is unchanged whenever a stat gives the same stamp:
// the change time lies far enough behind that clock that no write can reuse
// it. On a local file system with fine times that is as soon as the clock has
// ticked past the change; elsewhere (network, FAT, whole-second times, other
// OS) the stamp is trusted only after two seconds.
bool StampIsSettled(const std::string& native_path, const FileStamp& stamp,
                    int64_t clock_before_ns);

// The file that a write to `native_path` must change: symbolic links followed
// to the file they name, so that the link stays a link (Linux; on Windows the
// path itself). A dangling link gives the path its last link names.
std::string WriteTarget(const std::string& native_path);

enum class FileStatus {
  kOk,
  kMissing,  // no such file (or a path component is missing)
  kError,    // exists but cannot be read as a regular file (directory, no permission, ...)
};

// Stamp of a regular file.
FileStatus StatFile(const std::string& native_path, FileStamp* stamp);

// Reads the whole regular file; `stamp` (if given) belongs to what was read.
// Never waits on what the path names: a FIFO, pipe, device or folder is
// kError at once, with the last OS error (LastOsError) 0 to tell it from an
// open that failed. The data file, the DMI store and descriptions may be
// named by anyone, and a read that waited would hold its thread for good.
FileStatus ReadFileContents(const std::string& native_path, std::string* out, FileStamp* stamp);

// Exclusive lock shared by every process of this system that writes the file
// (it needs not exist). Released by destruction, or when the holder dies.
// Pass WriteTarget's path, so that writers through a link and through the
// file's own name take the same lock. A file with several hard links is also
// locked itself, since its names may sit in several folders, and its readers
// wait for the lock while they read.
class FileWriteLock {
 public:
  virtual ~FileWriteLock() = default;
  // nullptr when the lock cannot be taken (error text in *error).
  static std::unique_ptr<FileWriteLock> Acquire(const std::string& native_path, std::string* error);
};

// Replaces the file's contents so that readers see the old or the new file,
// never a mix, and a crash at any instant leaves one of the two: writes a
// temporary file beside it, flushes it, and renames it over the file. Keeps
// the permissions of an existing file. A file with several hard links (Linux)
// is rewritten in place instead, as a rename would split its names: readers
// of this system still never see a mix (the FileWriteLock keeps them out),
// but a crash in the middle of that rewrite can leave the file torn. Pass
// WriteTarget's path. False with the reason in *error.
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
