// The snapshot as a POSIX shared memory object, /dev/shm/schedexe.<name>.
// The object outlives its publisher, so the publisher holds a write lock on
// its byte 0 (an open file description lock, which the kernel drops with the
// descriptor, also when the process is killed): an object nobody holds is
// absent, whatever it contains. Readers only test the lock and never take it.
#include "platform/shared_snapshot.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <mutex>
#include <set>

#include "platform/posix/named_event.h"
#include "platform/posix/registry_file.h"

namespace platform {

namespace {

bool HolderLock(int fd, short type, int command) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = 0;
  lock.l_len = 1;
  return fcntl(fd, command, &lock) == 0 && (command != F_OFD_GETLK || lock.l_type != F_UNLCK);
}

// The objects of the live publishers, for RemovePublishedSnapshots.
std::mutex published_mutex;
std::set<std::string>& Published() {
  static auto* objects = new std::set<std::string>;
  return *objects;
}

class PosixSnapshotPublisher final : public SnapshotPublisher {
 public:
  PosixSnapshotPublisher(std::string object, int fd, void* block)
      : object_(std::move(object)), fd_(fd), block_(block) {
    const std::lock_guard<std::mutex> lock(published_mutex);
    Published().insert(object_);
  }
  ~PosixSnapshotPublisher() override {
    const std::lock_guard<std::mutex> lock(published_mutex);
    Published().erase(object_);
    // Ours alone while we hold the lock, so ours to remove.
    shm_unlink(object_.c_str());
    munmap(block_, kSnapshotBlockSize);
    close(fd_);
  }
  PosixSnapshotPublisher(const PosixSnapshotPublisher&) = delete;
  PosixSnapshotPublisher& operator=(const PosixSnapshotPublisher&) = delete;

  bool Publish(std::string_view bytes) override { return snapshot_block::Write(block_, bytes); }

 private:
  const std::string object_;
  const int fd_;
  void* const block_;
};

// The same names on both backends: no '\\' either.
std::string ObjectOf(std::string_view name) {
  return name.find('\\') == std::string_view::npos ? posix::NamedEventObject(name) : "";
}

}  // namespace

void posix::RemovePublishedSnapshots() {
  const std::lock_guard<std::mutex> lock(published_mutex);
  for (const std::string& object : Published()) shm_unlink(object.c_str());
}

std::unique_ptr<SnapshotPublisher> SnapshotPublisher::Create(std::string_view name) {
  const std::string object = ObjectOf(name);
  if (object.empty()) return nullptr;
  const int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  struct stat st;
  void* block = MAP_FAILED;
  // Taken before anything is changed: a live publisher keeps its object.
  // The object only ever grows, so no reader's mapping loses its pages.
  if (HolderLock(fd, F_WRLCK, F_OFD_SETLK) && fstat(fd, &st) == 0 &&
      (st.st_size >= static_cast<off_t>(kSnapshotBlockSize) ||
       ftruncate(fd, kSnapshotBlockSize) == 0)) {
    fchmod(fd, 0644);
    block = mmap(nullptr, kSnapshotBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  if (block == MAP_FAILED) {
    close(fd);
    return nullptr;
  }
  snapshot_block::Begin(block, static_cast<uint32_t>(getpid()));
  return std::make_unique<PosixSnapshotPublisher>(object, fd, block);
}

SnapshotStatus ReadSnapshot(std::string_view name, std::string* bytes, uint32_t* publisher_pid) {
  const std::string object = ObjectOf(name);
  if (object.empty()) return SnapshotStatus::kAbsent;
  const int fd = shm_open(object.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return SnapshotStatus::kAbsent;
  SnapshotStatus status = SnapshotStatus::kAbsent;
  struct stat st;
  if (HolderLock(fd, F_RDLCK, F_OFD_GETLK) && fstat(fd, &st) == 0) {
    status = SnapshotStatus::kGarbled;
    const size_t size =
        std::min(static_cast<size_t>(std::max<off_t>(st.st_size, 0)), kSnapshotBlockSize);
    void* block = size > 0 ? mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0) : MAP_FAILED;
    if (block != MAP_FAILED) {
      status = snapshot_block::Read(block, size, bytes, publisher_pid);
      munmap(block, size);
    }
  }
  close(fd);
  return status;
}

std::string InstanceObjectName(std::string_view base) {
  // The path as given, made absolute when it exists: the service and the
  // tools beside it name the same file the same way.
  std::string path = posix::RegistryFilePath();
  if (char* real = realpath(path.c_str(), nullptr)) {
    path = real;
    free(real);
  }
  uint64_t digest = 14695981039346656037ull;  // FNV-1a
  for (char c : path) digest = (digest ^ static_cast<unsigned char>(c)) * 1099511628211ull;
  char suffix[24];
  std::snprintf(suffix, sizeof(suffix), ".%016llx", static_cast<unsigned long long>(digest));
  return std::string(base) + suffix;
}

}  // namespace platform
