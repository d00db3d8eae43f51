// The named mutex on Linux: a robust, process-shared, recursive pthread mutex
// in POSIX shared memory, beside the named events ("/schedexe." + name).
// Robust, so that a holder that dies hands it to the next thread that locks
// it, as Windows hands over an abandoned mutex; recursive, as a Windows mutex
// is for the thread that holds it.
#include "platform/named_mutex.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <new>

#include "platform/posix/named_event.h"

namespace platform {

namespace {

// Marks an object whose mutex has been initialised. The object has a size of
// its own, so an event of the same name is refused rather than misread.
constexpr uint32_t kReady = 0x58544D4E;  // "NMTX"
constexpr off_t kObjectSize = 128;

struct SharedMutex {
  uint32_t ready;
  pthread_mutex_t mutex;
};
static_assert(sizeof(SharedMutex) <= kObjectSize);

class PosixNamedMutex final : public NamedMutex {
 public:
  explicit PosixNamedMutex(SharedMutex* shared) : shared_(shared) {}
  ~PosixNamedMutex() override { munmap(shared_, kObjectSize); }
  PosixNamedMutex(const PosixNamedMutex&) = delete;
  PosixNamedMutex& operator=(const PosixNamedMutex&) = delete;

  bool Lock() override { return Acquired(pthread_mutex_lock(&shared_->mutex)); }
  bool TryLock() override { return Acquired(pthread_mutex_trylock(&shared_->mutex)); }
  bool Unlock() override { return pthread_mutex_unlock(&shared_->mutex) == 0; }

 private:
  // The previous holder died holding it: we hold it now. Marked consistent
  // so that it stays usable after our unlock (otherwise every later lock
  // fails for good).
  bool Acquired(int rc) {
    if (rc == EOWNERDEAD) rc = pthread_mutex_consistent(&shared_->mutex);
    return rc == 0;
  }

  SharedMutex* shared_;
};

bool InitialiseMutex(pthread_mutex_t* mutex) {
  pthread_mutexattr_t attributes;
  if (pthread_mutexattr_init(&attributes) != 0) return false;
  const bool ok = pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED) == 0 &&
                  pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST) == 0 &&
                  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE) == 0 &&
                  pthread_mutex_init(mutex, &attributes) == 0;
  pthread_mutexattr_destroy(&attributes);
  return ok;
}

// Sizes, maps and (once) initialises the object. Creators that race each
// other take turns under an advisory lock on the object, which the kernel
// drops when its holder dies, so one that dies half way through leaves the
// object to be initialised by the next, never a mutex that nobody can take.
SharedMutex* MapMutex(int fd) {
  if (flock(fd, LOCK_EX) != 0) return nullptr;
  struct stat st;
  void* memory = MAP_FAILED;
  if (fstat(fd, &st) == 0 &&
      (st.st_size == kObjectSize || (st.st_size == 0 && ftruncate(fd, kObjectSize) == 0))) {
    memory = mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  auto* shared = static_cast<SharedMutex*>(memory == MAP_FAILED ? nullptr : memory);
  if (shared && shared->ready != kReady) {
    std::memset(memory, 0, kObjectSize);
    if (InitialiseMutex(&shared->mutex)) {
      shared->ready = kReady;
    } else {
      munmap(memory, kObjectSize);
      shared = nullptr;
    }
  }
  flock(fd, LOCK_UN);
  return shared;
}

}  // namespace

std::unique_ptr<NamedMutex> NamedMutex::Create(const char* name) {
  const std::string object = posix::NamedEventObject(name ? name : "");
  if (object.empty()) return nullptr;
  const int fd = posix::CreateOrOpenSharedObject(object);
  if (fd < 0) return nullptr;
  SharedMutex* shared = MapMutex(fd);
  close(fd);
  if (!shared) return nullptr;
  return std::make_unique<PosixNamedMutex>(shared);
}

}  // namespace platform
