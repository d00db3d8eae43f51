// A mutex that clang's thread-safety analysis understands, so that what it
// guards is declared in the code (GUARDED_BY) and checked at compile time
// (-Wthread-safety in the clang builds). Other compilers see plain macros.
#ifndef SCHEDEXE_PLATFORM_MUTEX_H_
#define SCHEDEXE_PLATFORM_MUTEX_H_

#include <mutex>

#if defined(__clang__)
#define SCHEDEXE_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define SCHEDEXE_THREAD_ANNOTATION(x)
#endif

#define CAPABILITY(x) SCHEDEXE_THREAD_ANNOTATION(capability(x))
#define SCOPED_CAPABILITY SCHEDEXE_THREAD_ANNOTATION(scoped_lockable)
#define GUARDED_BY(x) SCHEDEXE_THREAD_ANNOTATION(guarded_by(x))
#define PT_GUARDED_BY(x) SCHEDEXE_THREAD_ANNOTATION(pt_guarded_by(x))
#define REQUIRES(...) SCHEDEXE_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) SCHEDEXE_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) SCHEDEXE_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define RELEASE(...) SCHEDEXE_THREAD_ANNOTATION(release_capability(__VA_ARGS__))

namespace platform {

class CAPABILITY("mutex") Mutex {
 public:
  void Lock() ACQUIRE() { mutex_.lock(); }
  void Unlock() RELEASE() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Holds a Mutex for its scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mutex) ACQUIRE(mutex) : mutex_(mutex) { mutex_.Lock(); }
  ~MutexLock() RELEASE() { mutex_.Unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& mutex_;
};

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_MUTEX_H_
