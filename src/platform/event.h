// In-process events with Windows semantics: manual or auto reset, timed waits
// on the system clock.
#ifndef SCHEDEXE_PLATFORM_EVENT_H_
#define SCHEDEXE_PLATFORM_EVENT_H_

#include <cstdint>

#include "platform/clock.h"

namespace platform {

class Event : public ClockWaiter {
 public:
  explicit Event(bool manual_reset = false, bool initially_set = false,
                 Clock& clock = SystemClock());

  void Set();
  void Reset();
  // True when the event was signalled within `ms` (kInfinite: no limit). An
  // auto-reset event is reset by the wait that takes its signal.
  bool Wait(uint32_t ms = kInfinite);
  bool IsSet();

 private:
  const bool manual_reset_;
  bool signalled_;
};

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_EVENT_H_
