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
#include <ctime>
#include <mutex>
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
  // Whether the last report accepts controls. Until one does (start-up), the
  // service manager refuses every control; systemd cannot be refused a
  // stop, so a stop is held until then instead of being lost.
  std::atomic<bool> accepting{false};
  // Written when a report starts accepting controls, to hand over a held stop.
  int accepting_now = -1;
  // The last reported state and the scheduler's activity, for the words of
  // later reports and of the messages between them. The lock also keeps
  // those messages in the order of the facts they tell.
  std::mutex status_mutex;
  uint32_t state = 0;
  std::string activity;
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
  const int accepting_now = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const auto close_all = [&] {
    for (const int fd : {signals, finished, accepting_now}) {
      if (fd >= 0) close(fd);
    }
    dispatcher.accepting_now = -1;
    dispatcher.active = false;
  };
  if (signals < 0 || finished < 0 || accepting_now < 0) {
    close_all();
    return Fail(kErrorGenFailure);
  }

  dispatcher.name = name;
  {
    std::lock_guard<std::mutex> lock(dispatcher.status_mutex);
    dispatcher.state = 0;
    dispatcher.activity.clear();
  }
  dispatcher.handler = nullptr;
  dispatcher.accepting = false;
  dispatcher.accepting_now = accepting_now;
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
    close_all();
    return Fail(kErrorGenFailure);
  }

  // The calling thread is the control dispatcher: the handler runs here, one
  // control at a time, until ServiceMain has returned.
  bool stop_held = false;
  for (;;) {
    pollfd fds[3] = {{finished, POLLIN, 0}, {signals, POLLIN, 0}, {accepting_now, POLLIN, 0}};
    if (poll(fds, 3, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents != 0) break;
    if (fds[2].revents != 0) {
      uint64_t count = 0;
      [[maybe_unused]] ssize_t n = read(accepting_now, &count, sizeof(count));
    }
    signalfd_siginfo info;
    const uint32_t control =
        fds[1].revents != 0 && read(signals, &info, sizeof(info)) == sizeof(info)
            ? posix::ControlOfSignal(info.ssi_signo)
            : 0;
    const ServiceControlHandler handler = dispatcher.handler.load();
    if (!dispatcher.accepting || handler == nullptr) {
      stop_held = stop_held || control == kControlStop;
    } else if (control != 0) {
      handler(control);
    }
    if (stop_held && dispatcher.accepting && handler != nullptr) {
      stop_held = false;
      handler(kControlStop);
    }
  }
  main_thread.join();
  close_all();
  dispatcher.handler = nullptr;
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
  {
    std::lock_guard<std::mutex> lock(dispatcher.status_mutex);
    if (!posix::SendNotification(GetEnvironmentVariable("NOTIFY_SOCKET"),
                                 posix::StatusNotification(status, dispatcher.activity))) {
      return Fail(kErrorGenFailure);
    }
    dispatcher.state = status.current_state;
  }
  const bool accepts = status.controls_accepted != 0 && status.current_state != kServiceStopped;
  if (accepts && !dispatcher.accepting.exchange(true)) {
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = write(dispatcher.accepting_now, &one, sizeof(one));
  } else if (!accepts) {
    dispatcher.accepting = false;
  }
  return true;
}

namespace {

// A message that is no report: losing it loses only words.
void SendBetweenReports(const std::string& message) {
  if (dispatcher.active && !message.empty()) {
    posix::SendNotification(GetEnvironmentVariable("NOTIFY_SOCKET"), message);
  }
}

}  // namespace

void SetServiceStatusText(const std::string& words) {
  std::lock_guard<std::mutex> lock(dispatcher.status_mutex);
  if (words == dispatcher.activity) return;
  dispatcher.activity = words;
  SendBetweenReports(posix::ActivityNotification(dispatcher.state, words));
}

void ReportReloading(bool reloading) {
  std::lock_guard<std::mutex> lock(dispatcher.status_mutex);
  if (!reloading) {
    SendBetweenReports("READY=1\n" +
                       posix::ActivityNotification(dispatcher.state, dispatcher.activity));
    return;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t usec =
      static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
  SendBetweenReports("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(usec) + "\n" +
                     posix::ActivityNotification(dispatcher.state, "reloading the data file"));
}

}  // namespace platform
