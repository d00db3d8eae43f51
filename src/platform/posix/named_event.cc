// A named auto-reset event shared between processes: one 32-bit word in POSIX
// shared memory, taken with compare-and-swap and slept on with a futex.
// There is no lock, so a process that dies anywhere, even in the middle of
// Set or Wait, leaves nothing held and nothing half done; a fresh (zeroed)
// object is a valid unsignalled event, so creators need no initialisation
// handshake.
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
  explicit PosixNamedEvent(void* memory) : memory_(memory) {}
  ~PosixNamedEvent() override { munmap(memory_, kObjectSize); }

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
};

std::unique_ptr<NamedEvent> MapEvent(int fd) {
  struct stat st;
  // Whoever comes first gives the object its size; the zeros it gets are the
  // unsignalled state. A second ftruncate to the same size changes nothing.
  bool ok = fstat(fd, &st) == 0 &&
            (st.st_size >= static_cast<off_t>(kObjectSize) || ftruncate(fd, kObjectSize) == 0);
  void* memory = MAP_FAILED;
  if (ok) {
    memory = mmap(nullptr, kObjectSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  }
  close(fd);
  if (memory == MAP_FAILED) return nullptr;
  return std::make_unique<PosixNamedEvent>(memory);
}

}  // namespace

std::unique_ptr<NamedEvent> NamedEvent::Create(const char* name) {
  const std::string object = posix::NamedEventObject(name ? name : "");
  if (object.empty()) return nullptr;
  const int fd = posix::CreateOrOpenSharedObject(object);
  if (fd < 0) return nullptr;
  return MapEvent(fd);
}

std::unique_ptr<NamedEvent> NamedEvent::Open(const char* name) {
  const std::string object = posix::NamedEventObject(name ? name : "");
  if (object.empty()) return nullptr;
  const int fd = shm_open(object.c_str(), O_RDWR | O_CLOEXEC, 0);
  if (fd < 0) return nullptr;
  return MapEvent(fd);
}

}  // namespace platform
