#include "platform/event.h"

#include <cstdint>

namespace platform {

Event::Event(bool manual_reset, bool initially_set, Clock& clock)
    : ClockWaiter(clock), manual_reset_(manual_reset), signalled_(initially_set) {}

void Event::Set() {
  std::lock_guard<std::mutex> g(mutex_);
  signalled_ = true;
  // All waiters wake and look; for an auto-reset event the first takes the
  // signal and the others wait again, which keeps the virtual-time accounting
  // of who is running exact.
  ReleaseWaiters(manual_reset_ ? INT32_MAX : 1);
  cv_.notify_all();
}

void Event::Reset() {
  std::lock_guard<std::mutex> g(mutex_);
  signalled_ = false;
}

bool Event::Wait(uint32_t ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!WaitLocked(lock, ms, [this] { return signalled_; })) return false;
  if (!manual_reset_) signalled_ = false;
  return true;
}

bool Event::IsSet() {
  std::lock_guard<std::mutex> g(mutex_);
  return signalled_;
}

}  // namespace platform
