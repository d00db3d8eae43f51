// Runs the engine in virtual time, deterministically: time moves only when
// every engine thread is blocked on the manual clock, and then only to the
// next deadline, so each step happens exactly as it would at that instant.
#ifndef SCHEDEXE_TESTS_SUPPORT_VIRTUAL_TIME_H_
#define SCHEDEXE_TESTS_SUPPORT_VIRTUAL_TIME_H_

#include <cstdint>
#include <functional>
#include <memory>

#include "engine/scheduler_host.h"
#include "engine/thread_group.h"
#include "support/manual_clock.h"

namespace testsupport {

// Takes a test's host down: true once every engine thread has ended. A host
// whose threads do not end within seconds is left alive (they still use it)
// and false returned, so the test fails instead of hanging the suite.
bool TakeDown(std::unique_ptr<engine::SchedulerHost>& host);

class VirtualTime {
 public:
  VirtualTime(ManualClock& clock, engine::ThreadGroup& threads)
      : clock_(clock), threads_(threads) {}

  // Runs `action` on a thread counted with the engine's, so that time does
  // not move while it works (for calls that block, such as a Wake).
  void Do(std::function<void()> action);
  // Runs `action` as Do does and moves time, deadline by deadline, until it
  // has returned and the engine is quiet again.
  bool Run(std::function<void()> action);
  // Waits (real time, bounded) until every counted thread is blocked.
  bool AwaitQuiet();
  // Moves time forward by `ms`, deadline by deadline, letting the engine run
  // to quiet at every step. False when the engine never became quiet.
  bool RunFor(int64_t ms);

 private:
  ManualClock& clock_;
  engine::ThreadGroup& threads_;
};

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_VIRTUAL_TIME_H_
