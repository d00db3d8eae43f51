#include "platform/service_dispatcher.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>

#include "platform/posix/control_signals.h"
#include "platform/posix/notify_socket.h"
#include "platform/process_info.h"
#include "platform/text.h"

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

}  // namespace

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
  posix::AddControlSignals(&controls);
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
    const uint32_t control = posix::ControlOfSignal(info.ssi_signo);
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

ServiceStatusHandle RegisterServiceControlHandler(const char* name, ServiceControlHandler handler) {
  if (!dispatcher.active || name == nullptr || !EqualsIgnoreCase(dispatcher.name, name)) {
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

}  // namespace platform
