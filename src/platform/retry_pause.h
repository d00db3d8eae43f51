// The pause between tries of something that must succeed before its caller
// can go on (a registry value the agent may be writing, a named event): it
// starts short and doubles up to 5 s, so a failure that lasts is never a busy
// loop and one that clears is noticed quickly.
#ifndef SCHEDEXE_PLATFORM_RETRY_PAUSE_H_
#define SCHEDEXE_PLATFORM_RETRY_PAUSE_H_

#include <algorithm>
#include <cstdint>

#include "platform/clock.h"

namespace platform {

class RetryPause {
 public:
  static constexpr uint32_t kFirstMs = 50;
  static constexpr uint32_t kLongestMs = 5000;

  // Sleeps the current pause on the system clock, then lengthens the next.
  void Sleep() {
    SystemClock().Sleep(next_ms_);
    next_ms_ = std::min(next_ms_ * 2, kLongestMs);
  }

 private:
  uint32_t next_ms_ = kFirstMs;
};

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_RETRY_PAUSE_H_
