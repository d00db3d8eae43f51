// Threads the system starts and never joins, and the gate that pauses the
// worker at its safe points.
#ifndef SCHEDEXE_PLATFORM_THREAD_H_
#define SCHEDEXE_PLATFORM_THREAD_H_

#include <condition_variable>
#include <functional>
#include <mutex>

namespace platform {

// Starts `body` on a detached thread. False when no thread could be made.
bool StartDetachedThread(std::function<void()> body);

// A thread that calls Checkpoint() stops there while the gate is paused. The
// worker is held only at points where it holds no lock, so pausing it can
// never stall another thread (unlike suspending it from outside).
class PauseGate {
 public:
  void Pause();
  void Resume();
  bool IsPaused();
  // Whether a thread is blocked in Checkpoint() now.
  bool IsHolding();
  // Returns at once unless paused; otherwise blocks until Resume(). True
  // when it blocked.
  bool Checkpoint();

 private:
  std::mutex mutex_;
  std::condition_variable resumed_;
  bool paused_ = false;
  int holding_ = 0;
};

// The gate of the calling thread (nullptr: none). A thread sets its own; a
// pause then holds it at the next PausePoint() it passes. Code shared with
// other threads (a DMI command, a step of a pass) calls PausePoint() freely:
// threads without a gate pass straight through.
void SetThreadPauseGate(PauseGate* gate);
// True when a pause held the thread here.
bool PausePoint();

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_THREAD_H_
