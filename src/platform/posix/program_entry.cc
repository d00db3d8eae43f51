#include "platform/program_entry.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>

#include "platform/named_event.h"
#include "platform/posix/control_signals.h"
#include "platform/posix/named_event.h"
#include "platform/process_info.h"
#include "platform/thread.h"

namespace platform {
namespace {

int program_argc = 0;
char** program_argv = nullptr;

}  // namespace

void PrepareProcessSignals(const char* reload_event_name) {
  // Every thread started from here on inherits this mask, so these signals
  // reach only the threads that wait for them.
  sigset_t taken;
  sigemptyset(&taken);
  posix::AddControlSignals(&taken);
  sigaddset(&taken, SIGINT);
  sigaddset(&taken, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &taken, nullptr);

  const std::string event_name = reload_event_name;
  StartDetachedThread([event_name] {
    sigset_t hangup;
    sigemptyset(&hangup);
    sigaddset(&hangup, SIGHUP);
    for (;;) {
      int signal_number = 0;
      if (sigwait(&hangup, &signal_number) != 0) continue;
      // Only an event the worker has created can be signalled, as on
      // Windows, where nobody can open it before.
      std::unique_ptr<NamedEvent> event = NamedEvent::Open(event_name.c_str());
      if (event) event->Set();
    }
  });
}

void SetProgramArguments(int argc, char** argv) {
  program_argc = argc;
  program_argv = argv;
}

std::string ProgramCommandLine() { return OwnCommandLine(program_argc, program_argv); }

void EndProcess(int code) {
  posix::RemovePublishedSnapshots();
  std::fflush(nullptr);
  _exit(code);
}

}  // namespace platform
