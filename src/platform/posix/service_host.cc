#include "platform/service_host.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <system_error>
#include <thread>

#include "platform/named_event.h"
#include "platform/posix/notify_socket.h"
#include "platform/process_info.h"
#include "platform/thread.h"

namespace platform {
namespace {

thread_local uint32_t last_error = 0;

bool Fail(uint32_t error) {
  last_error = error;
  return false;
}

// What the running dispatcher knows. One service per process, as on Windows.
struct Dispatcher {
  std::atomic<bool> active{false};
  std::string name;
  std::atomic<ServiceControlHandler> handler{nullptr};
};
Dispatcher dispatcher;

// The handle RegisterServiceControlHandler gives out.
void* const kStatusHandle = &dispatcher;

int program_argc = 0;
char** program_argv = nullptr;

void AddControlSignals(sigset_t* set) {
  sigaddset(set, SIGTERM);
  sigaddset(set, SIGTSTP);
  sigaddset(set, SIGCONT);
  sigaddset(set, SIGUSR1);
  sigaddset(set, SIGUSR2);
}

uint32_t ControlOfSignal(uint32_t signal_number) {
  switch (signal_number) {
    case SIGTERM: return kControlStop;
    case SIGTSTP: return kControlPause;
    case SIGCONT: return kControlContinue;
    case SIGUSR1: return kControlInterrogate;
    case SIGUSR2: return kControlShutdown;
    default: return 0;
  }
}

bool SameNameIgnoringCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    const unsigned char x = static_cast<unsigned char>(a[i]);
    const unsigned char y = static_cast<unsigned char>(b[i]);
    if (std::tolower(x) != std::tolower(y)) return false;
  }
  return true;
}

}  // namespace

namespace posix {

std::string StatusNotification(const ServiceStatus& status) {
  std::string text;
  text += "STATUS=";
  text += ServiceStateName(status.current_state);
  text += "\nX_SCHEDEXE_STATE=" + std::to_string(status.current_state);
  text += "\nX_SCHEDEXE_CHECKPOINT=" + std::to_string(status.check_point);
  text += "\nX_SCHEDEXE_WAIT_HINT=" + std::to_string(status.wait_hint);
  text += "\nX_SCHEDEXE_CONTROLS=" + std::to_string(status.controls_accepted);
  text += "\nX_SCHEDEXE_WIN32_EXIT_CODE=" + std::to_string(status.win32_exit_code);
  text += "\nX_SCHEDEXE_SERVICE_EXIT_CODE=" +
          std::to_string(status.service_specific_exit_code);
  text += '\n';
  if (status.current_state == kServiceRunning) text += "READY=1\n";
  if (status.current_state == kServiceStopPending) text += "STOPPING=1\n";
  return text;
}

bool SendNotification(const std::string& path, const std::string& message) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() < 2 || path.size() >= sizeof(address.sun_path)) return false;
  if (path[0] != '/' && path[0] != '@') return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  // An abstract socket's name starts with a NUL and is exactly as long as
  // the text; it is not terminated.
  if (path[0] == '@') address.sun_path[0] = '\0';
  const socklen_t length =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&address), length);
  close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

}  // namespace posix

uint32_t LastError() { return last_error; }

bool RunServiceDispatcher(const char* name, ServiceMainFunction service_main) {
  // Outside systemd nobody could send controls or take reports: fail as a
  // program started outside the service control manager does.
  if (GetEnvironmentVariable("NOTIFY_SOCKET").empty()) {
    return Fail(kErrorFailedServiceControllerConnect);
  }
  if (dispatcher.active.exchange(true)) return Fail(kErrorGenFailure);

  sigset_t controls;
  sigemptyset(&controls);
  AddControlSignals(&controls);
  pthread_sigmask(SIG_BLOCK, &controls, nullptr);
  const int signals = signalfd(-1, &controls, SFD_CLOEXEC);
  const int finished = eventfd(0, EFD_CLOEXEC);
  if (signals < 0 || finished < 0) {
    if (signals >= 0) close(signals);
    if (finished >= 0) close(finished);
    dispatcher.active = false;
    return Fail(kErrorGenFailure);
  }

  dispatcher.name = name;
  dispatcher.handler = nullptr;
  // ServiceMain sees the service name as its one argument, as on Windows.
  static char service_name[257];
  std::snprintf(service_name, sizeof(service_name), "%s", name);
  static char* service_argv[] = {service_name, nullptr};

  std::thread main_thread;
  try {
    main_thread = std::thread([service_main, finished] {
      service_main(1, service_argv);
      const uint64_t one = 1;
      [[maybe_unused]] ssize_t n = write(finished, &one, sizeof(one));
    });
  } catch (const std::system_error&) {
    close(signals);
    close(finished);
    dispatcher.active = false;
    return Fail(kErrorGenFailure);
  }

  // The calling thread is the control dispatcher: the handler runs here, one
  // control at a time, until ServiceMain has returned.
  for (;;) {
    pollfd fds[2] = {{finished, POLLIN, 0}, {signals, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    if (fds[1].revents == 0) continue;
    signalfd_siginfo info;
    if (read(signals, &info, sizeof(info)) != sizeof(info)) continue;
    const uint32_t control = ControlOfSignal(info.ssi_signo);
    const ServiceControlHandler handler = dispatcher.handler.load();
    if (control != 0 && handler != nullptr) handler(control);
  }
  main_thread.join();
  close(signals);
  close(finished);
  dispatcher.handler = nullptr;
  dispatcher.active = false;
  return true;
}

ServiceStatusHandle RegisterServiceControlHandler(const char* name,
                                                  ServiceControlHandler handler) {
  if (!dispatcher.active || name == nullptr ||
      !SameNameIgnoringCase(dispatcher.name, name)) {
    Fail(kErrorServiceDoesNotExist);
    return nullptr;
  }
  dispatcher.handler = handler;
  return kStatusHandle;
}

bool ReportServiceStatus(ServiceStatusHandle handle, const ServiceStatus& status) {
  if (handle != kStatusHandle || !dispatcher.active) {
    return Fail(kErrorInvalidHandle);
  }
  const std::string socket_path = GetEnvironmentVariable("NOTIFY_SOCKET");
  if (!posix::SendNotification(socket_path, posix::StatusNotification(status))) {
    return Fail(kErrorGenFailure);
  }
  return true;
}

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

void PrepareProcessSignals(const char* reload_event_name) {
  // Every thread started from here on inherits this mask, so these signals
  // reach only the threads that wait for them.
  sigset_t taken;
  sigemptyset(&taken);
  AddControlSignals(&taken);
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

std::string ProgramCommandLine() {
  return OwnCommandLine(program_argc, program_argv);
}

bool ControlServiceByName(const char*, uint32_t, ServiceStatus*, uint32_t* error) {
  *error = kErrorCallNotImplemented;
  return false;
}

void EndProcess(int code) {
  std::fflush(nullptr);
  _exit(code);
}

bool CloseWindowOfClass(const char*, uint32_t* error) {
  *error = kErrorCallNotImplemented;
  return false;
}

}  // namespace platform
