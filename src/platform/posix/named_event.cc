// A named auto-reset event shared between processes: one 32-bit word in POSIX
// shared memory, taken with compare-and-swap and slept on with a futex.
// Setting and waiting take no lock, so a process that dies anywhere, even in
// the middle of Set or Wait, leaves nothing held and nothing half done; a
// fresh (zeroed) object is a valid unsignalled event. File locks, which the
// kernel drops when a process dies, tell whether any handle still holds it.
#include "platform/named_event.h"

#include <fcntl.h>
#include <limits.h>
#include <linux/futex.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/clock.h"
#include "platform/posix/named_event.h"

namespace platform {

namespace posix {

std::string NamedEventObject(std::string_view name) {
  if (name.empty() || name.find('/') != std::string_view::npos || name.size() > NAME_MAX - 16) {
    return "";
  }
  return "/schedexe." + std::string(name);
}

int CreateOrOpenSharedObject(const std::string& object) {
  int fd = shm_open(object.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd >= 0) {
    fchmod(fd, 0666);
  } else if (errno == EEXIST) {
    fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  }
  return fd;
}

}  // namespace posix

namespace {

constexpr size_t kObjectSize = 64;

class PosixNamedEvent final : public NamedEvent {
 public:
  // `fd` carries this handle's holder lock, released with it.
  PosixNamedEvent(void* memory, int fd) : memory_(memory), fd_(fd) {}
  ~PosixNamedEvent() override {
    munmap(memory_, kObjectSize);
    close(fd_);
  }
  PosixNamedEvent(const PosixNamedEvent&) = delete;
  PosixNamedEvent& operator=(const PosixNamedEvent&) = delete;

  bool Set() override {
    Flag().store(1);
    Futex(FUTEX_WAKE, 1, nullptr);
    return true;
  }

  bool Wait(uint32_t ms) override {
    timespec deadline;
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += ms / 1000;
    deadline.tv_nsec += static_cast<long>(ms % 1000) * 1'000'000;
    if (deadline.tv_nsec >= 1'000'000'000) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1'000'000'000;
    }
    for (;;) {
      uint32_t expected = 1;
      if (Flag().compare_exchange_strong(expected, 0)) return true;
      if (ms == 0) return false;
      // Sleeps only while the word still reads 0, so a Set between the
      // check above and this call is never missed.
      const long rc = Futex(FUTEX_WAIT_BITSET, 0, ms == kInfinite ? nullptr : &deadline);
      if (rc != 0 && errno == ETIMEDOUT) {
        expected = 1;
        return Flag().compare_exchange_strong(expected, 0);
      }
    }
  }

 private:
  std::atomic_ref<uint32_t> Flag() { return std::atomic_ref<uint32_t>(*Word()); }
  uint32_t* Word() { return static_cast<uint32_t*>(memory_); }

  // Shared between processes: no FUTEX_PRIVATE_FLAG. A bitset wait takes an
  // absolute CLOCK_MONOTONIC deadline.
  long Futex(int op, uint32_t value, const timespec* deadline) {
    return syscall(SYS_futex, Word(), op, value, deadline, nullptr, FUTEX_BITSET_MATCH_ANY);
  }

  void* memory_;
  int fd_;
};

// An event exists while a handle to it does, as on Windows, where it goes
// with its last handle and a new one starts unsignalled. The object itself
// outlives its holders, so each handle holds a read lock on its byte 0 (an
// open file description lock: the kernel drops it with the handle's
// descriptor, also when the process is killed). Byte 1 makes looking for
// other holders and joining them one step.
constexpr off_t kHoldersByte = 0;
constexpr off_t kGuardByte = 1;

bool LockByte(int fd, short type, off_t byte, bool wait) {
  struct flock lock = {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  lock.l_start = byte;
  lock.l_len = 1;
  return fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) == 0;
}

// Maps the object and holds it. An object nobody holds is a new event
// (`create`) or none at all (nullptr).
std::unique_ptr<NamedEvent> HoldEvent(int fd, bool create) {
  struct stat st;
  // Whoever comes first gives the object its size; the zeros it gets are the
  // unsignalled state. A second ftruncate to the same size changes nothing.
  const bool sized = fstat(fd, &st) == 0 && (st.st_size >= static_cast<off_t>(kObjectSize) ||
                                             ftruncate(fd, kObjectSize) == 0);
  void* memory =
      sized ? mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
  if (memory != MAP_FAILED && LockByte(fd, F_WRLCK, kGuardByte, true)) {
    const bool unheld = LockByte(fd, F_WRLCK, kHoldersByte, false);
    if (unheld && create) std::atomic_ref<uint32_t>(*static_cast<uint32_t*>(memory)).store(0);
    // Turns our write lock into a read lock, or joins the other holders.
    if ((!unheld || create) && LockByte(fd, F_RDLCK, kHoldersByte, true)) {
      LockByte(fd, F_UNLCK, kGuardByte, false);
      return std::make_unique<PosixNamedEvent>(memory, fd);
    }
  }
  if (memory != MAP_FAILED) munmap(memory, kObjectSize);
  close(fd);
  return nullptr;
}

}  // namespace

std::unique_ptr<NamedEvent> NamedEvent::Create(const char* name) {
  const std::string object = posix::NamedEventObject(name ? name : "");
  if (object.empty()) return nullptr;
  const int fd = posix::CreateOrOpenSharedObject(object);
  if (fd < 0) return nullptr;
  return HoldEvent(fd, true);
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const char* name) {
  const std::string object = posix::NamedEventObject(name ? name : "");
  if (object.empty()) return nullptr;
  const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  return HoldEvent(fd, false);
}

}  // namespace platform
