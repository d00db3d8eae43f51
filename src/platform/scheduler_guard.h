// One scheduler per agent. Two schedulers on one agent would each start
// every due event, so a second one waits until the first has ended. The
// guard is a lock of its own (not the DMI setters' mutex, not the reload
// event), held for the rest of the process and dropped by the OS when its
// holder ends, however it ends. Linux: one per agent data file, a file lock
// on an object in /dev/shm named after the data file's path. Windows: one
// per machine (the agent's registry keys are the machine's), a named mutex.
#ifndef SCHEDEXE_PLATFORM_SCHEDULER_GUARD_H_
#define SCHEDEXE_PLATFORM_SCHEDULER_GUARD_H_

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

class SchedulerGuard {
 public:
  virtual ~SchedulerGuard() = default;

  // Takes the guard of the agent whose data file is `data_file` now. Null
  // when another process holds it, with that process's id in *holder (0
  // when it cannot be told), or when the guard cannot be made (reason in
  // *error, *holder 0).
  static std::unique_ptr<SchedulerGuard> TryAcquire(const std::string& data_file, uint32_t* holder,
                                                    std::string* error);
  // Waits without time limit until the guard is free and takes it. Null
  // only when the OS refuses (reason in *error).
  static std::unique_ptr<SchedulerGuard> Acquire(const std::string& data_file, std::string* error);
};

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_SCHEDULER_GUARD_H_
