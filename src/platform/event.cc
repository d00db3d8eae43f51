#include "platform/event.h"

namespace platform {

Event::Event(bool manual_reset, bool initially_set, Clock& clock)
    : ClockWaiter(clock), manual_reset_(manual_reset), signalled_(initially_set) {}

void Event::Set() {
  std::lock_guard<std::mutex> g(mutex_);
  signalled_ = true;
  if (manual_reset_) {
    cv_.notify_all();
  } else {
    cv_.notify_one();
  }
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
