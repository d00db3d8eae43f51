#include "platform/hidden_window.h"

#include <pthread.h>
#include <signal.h>

namespace platform {

uintptr_t RunHiddenWindow(void*, const char*) {
  // No window system: the "window" lives until the process is asked to end,
  // as a closed window would end the message loop.
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &ending, nullptr);
  int signal_number = 0;
  while (sigwait(&ending, &signal_number) != 0) {
  }
  return 0;
}

}  // namespace platform
