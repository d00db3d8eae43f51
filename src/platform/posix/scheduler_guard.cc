// The guard on Linux: a flock on a shared-memory object named after the data
// file's path, which holds the holder's process id for the next in line.
#include "platform/scheduler_guard.h"

#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/posix/named_event.h"
#include "platform/process_info.h"

namespace platform {

namespace {

class PosixSchedulerGuard final : public SchedulerGuard {
 public:
  explicit PosixSchedulerGuard(int fd) : fd_(fd) {}
  ~PosixSchedulerGuard() override { ::close(fd_); }
  PosixSchedulerGuard(const PosixSchedulerGuard&) = delete;
  PosixSchedulerGuard& operator=(const PosixSchedulerGuard&) = delete;

 private:
  int fd_;  // its open file description carries the lock
};

// The object of `data_file`'s agent; -1 with the reason when it cannot be
// opened.
int OpenGuardObject(const std::string& data_file, std::string* error) {
  uint64_t digest = 14695981039346656037ull;  // FNV-1a
  for (const unsigned char c : NativePath(data_file)) {
    digest ^= c;
    digest *= 1099511628211ull;
  }
  char name[48];
  std::snprintf(name, sizeof name, "/schedexe.scheduler.%016llx",
                static_cast<unsigned long long>(digest));
  const int fd = posix::CreateOrOpenSharedObject(name);
  if (fd < 0 && error) *error = std::string("cannot open ") + name + ": " + std::strerror(errno);
  return fd;
}

std::unique_ptr<SchedulerGuard> Held(int fd) {
  // The holder's id, for a scheduler that finds the guard taken.
  char text[16];
  const int n = std::snprintf(text, sizeof text, "%u\n", static_cast<unsigned>(CurrentProcessId()));
  if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, text, static_cast<size_t>(n), 0) != n) {
    // Only the id would be missing; the lock is what guards.
  }
  return std::make_unique<PosixSchedulerGuard>(fd);
}

}  // namespace

std::unique_ptr<SchedulerGuard> SchedulerGuard::TryAcquire(const std::string& data_file,
                                                           uint32_t* holder, std::string* error) {
  *holder = 0;
  const int fd = OpenGuardObject(data_file, error);
  if (fd < 0) return nullptr;
  int r;
  while ((r = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
  }
  if (r == 0) return Held(fd);
  if (errno == EWOULDBLOCK) {
    char text[16] = {};
    if (::pread(fd, text, sizeof text - 1, 0) > 0) {
      *holder = static_cast<uint32_t>(std::strtoul(text, nullptr, 10));
    }
  } else if (error) {
    *error = std::string("cannot lock the scheduler guard: ") + std::strerror(errno);
  }
  ::close(fd);
  return nullptr;
}

std::unique_ptr<SchedulerGuard> SchedulerGuard::Acquire(const std::string& data_file,
                                                        std::string* error) {
  const int fd = OpenGuardObject(data_file, error);
  if (fd < 0) return nullptr;
  int r;
  while ((r = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
  }
  if (r == 0) return Held(fd);
  if (error) *error = std::string("cannot lock the scheduler guard: ") + std::strerror(errno);
  ::close(fd);
  return nullptr;
}

}  // namespace platform
