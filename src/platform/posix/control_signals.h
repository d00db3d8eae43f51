// The signals that stand for service controls on Linux. The dispatcher takes
// them, and the process entry blocks them before any thread starts, so they
// reach the dispatcher only.
#ifndef SCHEDEXE_PLATFORM_POSIX_CONTROL_SIGNALS_H_
#define SCHEDEXE_PLATFORM_POSIX_CONTROL_SIGNALS_H_

#include <signal.h>

#include <cstdint>

#include "platform/service_dispatcher.h"

namespace platform::posix {

inline void AddControlSignals(sigset_t* set) {
  sigaddset(set, SIGTERM);
  sigaddset(set, SIGTSTP);
  sigaddset(set, SIGCONT);
  sigaddset(set, SIGUSR1);
  sigaddset(set, SIGUSR2);
}

// The control a signal stands for; 0 for any other signal.
inline uint32_t ControlOfSignal(uint32_t signal_number) {
  switch (signal_number) {
    case SIGTERM:
      return kControlStop;
    case SIGTSTP:
      return kControlPause;
    case SIGCONT:
      return kControlContinue;
    case SIGUSR1:
      return kControlInterrogate;
    case SIGUSR2:
      return kControlShutdown;
    default:
      return 0;
  }
}

}  // namespace platform::posix

#endif  // SCHEDEXE_PLATFORM_POSIX_CONTROL_SIGNALS_H_
