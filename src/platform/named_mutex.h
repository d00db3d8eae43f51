// A mutex shared by name between processes, open to every user: the DMI
// attribute setters of all the agent's programs take it around each whole
// set operation. As with a Windows mutex, a thread that holds it may lock it
// again (and unlocks it as often), and the holder dying hands it over: the
// next thread to lock it gets it as if it had been unlocked.
#ifndef SCHEDEXE_PLATFORM_NAMED_MUTEX_H_
#define SCHEDEXE_PLATFORM_NAMED_MUTEX_H_

#include <memory>

namespace platform {

class NamedMutex {
 public:
  virtual ~NamedMutex() = default;

  // Creates the mutex `name`, not owned by anyone, or opens it when it
  // exists already. nullptr on failure (Linux: a name that is empty, holds
  // '/' or is too long).
  static std::unique_ptr<NamedMutex> Create(const char* name);

  // Waits without time limit until this thread holds it. False only when the
  // OS refuses the wait.
  virtual bool Lock() = 0;
  // Takes it only if nobody else holds it now; true when this thread holds it.
  virtual bool TryLock() = 0;
  // Call only while this thread holds it. False when it does not.
  virtual bool Unlock() = 0;
};

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_NAMED_MUTEX_H_
