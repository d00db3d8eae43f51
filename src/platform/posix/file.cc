#include "platform/file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "platform/temporary_names.h"

namespace platform {

namespace {

std::string ErrnoText(const char* what, const std::string& path, int err) {
  return std::string(what) + " " + path + ": " + std::strerror(err);
}

void SplitPath(const std::string& path, std::string* dir, std::string* base) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) {
    *dir = ".";
    *base = path;
  } else {
    *dir = slash == 0 ? "/" : path.substr(0, slash);
    *base = path.substr(slash + 1);
  }
}

FileStamp StampOf(const struct stat& st) {
  FileStamp s;
  s.size = static_cast<uint64_t>(st.st_size);
  s.mtime_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.ctime_ns = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
  s.volume = static_cast<uint64_t>(st.st_dev);
  s.id = static_cast<uint64_t>(st.st_ino);
  return s;
}

FileStatus StatusOfErrno(int err) {
  return (err == ENOENT || err == ENOTDIR) ? FileStatus::kMissing : FileStatus::kError;
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = ::write(fd, data.data(), data.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Write locks this thread holds: its own reads under the lock must not wait
// for the lock on a hard-linked file.
thread_local int write_locks_held = 0;

// flock on the folder that holds the file: it works whether or not the file
// exists, leaves nothing behind, and the kernel drops it when the holder
// dies. Locking the file itself would need it to exist (creating it would
// be visible) and a re-check that it was not replaced while we waited; only
// a hard-linked file, which is never replaced, is locked itself as well.
class PosixFileWriteLock : public FileWriteLock {
 public:
  PosixFileWriteLock(int folder_fd, int file_fd) : folder_fd_(folder_fd), file_fd_(file_fd) {
    ++write_locks_held;
  }
  ~PosixFileWriteLock() override {
    if (file_fd_ >= 0) ::close(file_fd_);
    ::flock(folder_fd_, LOCK_UN);
    ::close(folder_fd_);
    --write_locks_held;
  }

 private:
  int folder_fd_;
  int file_fd_;  // -1 unless the file has several names
};

bool FlockRetrying(int fd, int op) {
  while (::flock(fd, op) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

// Rewrites a hard-linked file where it is (under the FileWriteLock, which
// locks such a file itself): the only way to change it for all of its names.
// Our readers wait for the lock, but a crash in the middle leaves the file
// torn, the one case where a replacement is not all or nothing.
bool RewriteInPlace(const std::string& path, std::string_view data, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = ErrnoText("cannot open", path, errno);
    return false;
  }
  int err = 0;
  for (size_t done = 0; done < data.size() && !err;) {
    const ssize_t n =
        ::pwrite(fd, data.data() + done, data.size() - done, static_cast<off_t>(done));
    if (n > 0) {
      done += static_cast<size_t>(n);
    } else if (n == 0 || errno != EINTR) {
      err = n == 0 ? EIO : errno;
    }
  }
  if (!err && ::ftruncate(fd, static_cast<off_t>(data.size())) != 0) err = errno;
  if (!err && ::fsync(fd) != 0) err = errno;
  if (::close(fd) != 0 && !err) err = errno;
  const bool ok = err == 0;
  if (!ok && error) *error = ErrnoText("cannot rewrite", path, err);
  return ok;
}

constexpr int kNotRegular = -2;

// Opens a file for reading only if it is a regular file: -1 with errno when
// the open fails, kNotRegular (errno 0) for a FIFO, device, socket or
// folder. The open itself must not wait (a FIFO without a writer would hold
// it for good, a terminal or modem line until carrier), so it is made
// non-blocking and the type is checked on what was opened, not on a name
// that could change in between.
int OpenRegularFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return -1;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    errno = 0;
    return kNotRegular;
  }
  // Reads of a regular file never wait anyway; the flag goes for clarity.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}

}  // namespace

std::string NativePath(std::string_view windows_path) {
  std::string out(windows_path);
  for (char& c : out) {
    if (c == '\\') c = '/';
  }
  return out;
}

FileStatus StatFile(const std::string& native_path, FileStamp* stamp) {
  struct stat st;
  if (::stat(native_path.c_str(), &st) != 0) return StatusOfErrno(errno);
  if (!S_ISREG(st.st_mode)) {
    errno = 0;
    return FileStatus::kError;
  }
  if (stamp) *stamp = StampOf(st);
  return FileStatus::kOk;
}

FileStatus ReadFileContents(const std::string& native_path, std::string* out, FileStamp* stamp) {
  out->clear();
  const int fd = OpenRegularFile(native_path);
  if (fd < 0) return fd == kNotRegular ? FileStatus::kError : StatusOfErrno(errno);
  struct stat first;
  if (write_locks_held == 0 && ::fstat(fd, &first) == 0 && first.st_nlink > 1) {
    // Rewritten in place by our writers: wait until the rewrite is done.
    FlockRetrying(fd, LOCK_SH);
  }
  FileStatus result = FileStatus::kError;
  // A writer that rewrites in place (another program) can change the file
  // while we read; read again until the stamp before and after agree.
  for (int attempt = 0; attempt < 5; ++attempt) {
    struct stat before, after;
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) break;
    out->clear();
    out->reserve(static_cast<size_t>(before.st_size));
    if (::lseek(fd, 0, SEEK_SET) != 0) break;
    char buf[65536];
    bool failed = false;
    for (;;) {
      const ssize_t n = ::read(fd, buf, sizeof buf);
      if (n < 0) {
        if (errno == EINTR) continue;
        failed = true;
        break;
      }
      if (n == 0) break;
      out->append(buf, static_cast<size_t>(n));
    }
    if (failed || ::fstat(fd, &after) != 0) break;
    const FileStamp s = StampOf(after);
    result = FileStatus::kOk;
    if (s == StampOf(before) && s.size == out->size()) {
      if (stamp) *stamp = s;
      break;
    }
    // Changed under us: report a stamp that never matches a cache entry.
    if (stamp) {
      *stamp = s;
      stamp->mtime_ns = -1;
    }
  }
  ::close(fd);
  if (result != FileStatus::kOk) out->clear();
  return result;
}

std::unique_ptr<FileWriteLock> FileWriteLock::Acquire(const std::string& native_path,
                                                      std::string* error) {
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = ErrnoText("cannot open folder", dir, errno);
    return nullptr;
  }
  if (!FlockRetrying(fd, LOCK_EX)) {
    if (error) *error = ErrnoText("cannot lock folder", dir, errno);
    ::close(fd);
    return nullptr;
  }
  // Names of a hard-linked file may sit in other folders, whose writers take
  // other folder locks: the file itself serialises them.
  int file_fd = OpenRegularFile(native_path);
  struct stat st;
  if (file_fd >= 0 && (::fstat(file_fd, &st) != 0 || st.st_nlink < 2)) {
    ::close(file_fd);
    file_fd = -1;
  }
  if (file_fd >= 0 && !FlockRetrying(file_fd, LOCK_EX)) {
    if (error) *error = ErrnoText("cannot lock", native_path, errno);
    ::close(file_fd);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFileWriteLock>(fd, file_fd);
}

void RemoveStaleTemporaries(const std::string& native_path) {
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  const std::string prefix = TempPrefix(base);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return;
  const size_t suffix_len = sizeof(kTempSuffix) - 1;
  while (struct dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name.size() > prefix.size() + suffix_len && name.compare(0, prefix.size(), prefix) == 0 &&
        name.compare(name.size() - suffix_len, suffix_len, kTempSuffix) == 0) {
      ::unlink((dir + '/').append(name).c_str());
    }
  }
  ::closedir(d);
}

namespace {

std::atomic<uint64_t> replacements{0};

}  // namespace

uint64_t FileReplacementsForTesting() { return replacements.load(); }

bool ReplaceFileContents(const std::string& native_path, std::string_view data,
                         std::string* error) {
  ++replacements;
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  struct stat old_st;
  const bool existed = ::stat(native_path.c_str(), &old_st) == 0;
  if (existed && !S_ISREG(old_st.st_mode)) {
    if (error) *error = native_path + ": not a regular file";
    return false;
  }
  if (existed && old_st.st_nlink > 1) return RewriteInPlace(native_path, data, error);
  static std::atomic<unsigned> counter{0};
  std::string temp;
  int fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = dir + "/" + TemporaryName(base, static_cast<unsigned long>(::getpid()), counter++);
    // A new file gets the usual 0666 less the umask, like any created file.
    fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                existed ? (old_st.st_mode & 07777) : 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    if (error) *error = ErrnoText("cannot create temporary file", temp, errno);
    return false;
  }
  auto fail = [&](const char* what, int err) {
    if (error) *error = ErrnoText(what, temp, err);
    ::close(fd);
    ::unlink(temp.c_str());
    return false;
  };
  if (existed) {
    // Keep owner and mode; the owner only if we may (root, or already ours).
    // Usually the new file has both already (ours, and the umask took
    // nothing): its inode is then left alone.
    struct stat new_st;
    const bool known = ::fstat(fd, &new_st) == 0;
    bool set_mode = !known || (new_st.st_mode & 07777) != (old_st.st_mode & 07777);
    if (!known || new_st.st_uid != old_st.st_uid || new_st.st_gid != old_st.st_gid) {
      set_mode = true;  // a change of owner may clear the set-id bits
      if (::fchown(fd, old_st.st_uid, old_st.st_gid) != 0) {
        // Not ours to give away: the mode still carries over.
      }
    }
    if (set_mode && ::fchmod(fd, old_st.st_mode & 07777) != 0) {
      return fail("cannot set mode of", errno);
    }
  }
  if (!WriteAll(fd, data)) return fail("cannot write", errno);
  if (::fsync(fd) != 0) return fail("cannot flush", errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    if (error) *error = ErrnoText("cannot write", temp, err);
    return false;
  }
  if (::rename(temp.c_str(), native_path.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    if (error) *error = ErrnoText("cannot replace", native_path, err);
    return false;
  }
  // Make the rename itself durable.
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  return true;
}

int64_t FileClockNowNs() {
  // Linux stamps changes with the coarse clock (or a finer time that is never
  // below it): a change made after this reading has a change time at least
  // this one.
  struct timespec ts;
  ::clock_gettime(CLOCK_REALTIME_COARSE, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

bool StampIsSettled(const std::string& native_path, const FileStamp& stamp,
                    int64_t clock_before_ns) {
  constexpr int64_t kForeignTimesNs = 2'000'000'000;
  const int64_t age = clock_before_ns - stamp.ctime_ns;
  if (age > kForeignTimesNs) return true;
  if (age <= 0 || stamp.ctime_ns % 1'000'000'000 == 0) return false;  // whole seconds: coarse times
  // Local file systems stamp with this kernel's clock, to the nanosecond.
  // A network one uses its server's clock, which ours cannot vouch for.
  struct statfs fs;
  if (::statfs(native_path.c_str(), &fs) != 0) return false;
  switch (static_cast<unsigned long>(fs.f_type)) {
    case EXT4_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
    case OVERLAYFS_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

std::string WriteTarget(const std::string& native_path) {
  std::string path = native_path;
  // The kernel's own limit of links in a row; a loop ends there.
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    // Some file systems give a link no size: 4096 is the longest path.
    std::string target(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4097, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) break;
    target.resize(static_cast<size_t>(n));
    if (target[0] != '/') {
      std::string dir, base;
      SplitPath(path, &dir, &base);
      target = dir.append("/").append(target);
    }
    path = target;
  }
  return path;
}

bool ParentFolderExists(const std::string& native_path) {
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string_view NativeLineEnd() { return "\n"; }

}  // namespace platform
