// Sets of the wall clock. The engine sleeps relative lengths, which a set of
// the wall clock does not move, so it needs to be told when the clock was set
// to arm again against the new time. Linux: a CLOCK_REALTIME timerfd that the
// kernel cancels on every set. Windows: WM_TIMECHANGE, which the system sends
// to every top-level window when the time is set (a message-only window gets
// no broadcasts), to a hidden window of the watch's own thread.
#ifndef SCHEDEXE_PLATFORM_CLOCK_STEP_H_
#define SCHEDEXE_PLATFORM_CLOCK_STEP_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"

namespace platform {

// The OS's notice that the clock was set: a thread of its own that calls
// `on_set` for each set, until the source is destroyed.
class ClockSetSource {
 public:
  virtual ~ClockSetSource() = default;
};
// Null, with the reason in *error, when the OS cannot tell.
std::unique_ptr<ClockSetSource> StartClockSetSource(std::function<void()> on_set,
                                                    std::string* error);

class ClockStepWatch {
 public:
  using StepHandler = std::function<void(int64_t step_ms)>;

  // Calls `on_step` with each step of `clock`'s wall time against its
  // monotonic time, in milliseconds (negative: set back). On the machine's
  // clock it runs on the watch's own thread; a virtual clock calls it on the
  // thread that steps it.
  ClockStepWatch(Clock& clock, StepHandler on_step);
  ~ClockStepWatch();
  ClockStepWatch(const ClockStepWatch&) = delete;
  ClockStepWatch& operator=(const ClockStepWatch&) = delete;

  // Empty while the watch works; otherwise why steps go unseen.
  const std::string& problem() const { return problem_; }

  // For a virtual clock that was stepped.
  void Stepped(int64_t step_ms) { on_step_(step_ms); }

 private:
  void ClockWasSet();

  Clock& clock_;
  const StepHandler on_step_;
  std::string problem_;
  int64_t offset_ms_;  // wall minus monotonic time at the last set; the source's thread's
  std::unique_ptr<ClockSetSource> source_;
};

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_CLOCK_STEP_H_
