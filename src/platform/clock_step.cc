#include "platform/clock_step.h"

#include <chrono>
#include <utility>

namespace platform {
namespace {

// Finer than the clock's own seconds: a step of less than one still counts.
int64_t WallMinusMonotonicMs() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  return duration_cast<milliseconds>(std::chrono::system_clock::now().time_since_epoch()).count() -
         duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ClockStepWatch::ClockStepWatch(Clock& clock, StepHandler on_step)
    : clock_(clock), on_step_(std::move(on_step)), offset_ms_(0) {
  if (clock_.IsVirtual()) {
    clock_.AddStepWatch(this);
    return;
  }
  offset_ms_ = WallMinusMonotonicMs();
  source_ = StartClockSetSource([this] { ClockWasSet(); }, &problem_);
}

ClockStepWatch::~ClockStepWatch() {
  if (clock_.IsVirtual()) clock_.RemoveStepWatch(this);
  source_.reset();  // joins its thread: no call comes after this
}

void ClockStepWatch::ClockWasSet() {
  const int64_t offset = WallMinusMonotonicMs();
  const int64_t step = offset - offset_ms_;
  offset_ms_ = offset;
  on_step_(step);
}

}  // namespace platform
