#include "platform/file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
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

// flock on the folder that holds the file: it works whether or not the file
// exists, leaves nothing behind, and the kernel drops it when the holder
// dies. Locking the file itself would need it to exist (creating it would
// be visible) and a re-check that it was not replaced while we waited.
class PosixFileWriteLock : public FileWriteLock {
 public:
  explicit PosixFileWriteLock(int fd) : fd_(fd) {}
  ~PosixFileWriteLock() override {
    ::flock(fd_, LOCK_UN);
    ::close(fd_);
  }

 private:
  int fd_;
};

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
  if (!S_ISREG(st.st_mode)) return FileStatus::kError;
  if (stamp) *stamp = StampOf(st);
  return FileStatus::kOk;
}

FileStatus ReadFileContents(const std::string& native_path, std::string* out, FileStamp* stamp) {
  out->clear();
  const int fd = ::open(native_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return StatusOfErrno(errno);
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
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno == EINTR) continue;
    if (error) *error = ErrnoText("cannot lock folder", dir, errno);
    ::close(fd);
    return nullptr;
  }
  return std::make_unique<PosixFileWriteLock>(fd);
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
    if (::fchown(fd, old_st.st_uid, old_st.st_gid) != 0) {
      // Not ours to give away: the mode still carries over.
    }
    if (::fchmod(fd, old_st.st_mode & 07777) != 0) return fail("cannot set mode of", errno);
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

bool ParentFolderExists(const std::string& native_path) {
  std::string dir, base;
  SplitPath(native_path, &dir, &base);
  struct stat st;
  return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string_view NativeLineEnd() { return "\n"; }

}  // namespace platform
