#include "platform/posix/notify_socket.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "platform/service_dispatcher.h"

namespace platform::posix {

namespace {

bool ShowsActivity(uint32_t state) { return state == kServiceRunning || state == kServicePaused; }

// What `systemctl status` shows after the state name.
std::string StateWords(const ServiceStatus& status, const std::string& activity) {
  switch (status.current_state) {
    case kServiceStartPending:
      return "starting";
    case kServiceRunning:
      return activity.empty() ? "starting the scheduler" : activity;
    case kServicePausePending:
      return "pausing";
    case kServicePaused:
      // Only the worker is held: due events still fire.
      return "reloads wait for continue" + (activity.empty() ? "" : "; " + activity);
    case kServiceContinuePending:
      return "continuing";
    case kServiceStopPending:
      return "stopping";
    case kServiceStopped:
      if (status.win32_exit_code == 0) return "stopped";
      return "failed with error " + std::to_string(status.win32_exit_code) +
             (status.service_specific_exit_code != 0
                  ? ", service error " + std::to_string(status.service_specific_exit_code)
                  : "");
    default:
      return "";
  }
}

std::string StatusLine(uint32_t state, const std::string& words) {
  std::string line = "STATUS=";
  line += ServiceStateName(state);
  if (!words.empty()) line += ": " + words;
  // A line break would end the field early and start a field of its own.
  for (char& c : line) {
    if (c == '\n') c = ' ';
  }
  return line + '\n';
}

}  // namespace

std::string ActivityNotification(uint32_t state, const std::string& activity) {
  if (!ShowsActivity(state)) return "";
  ServiceStatus status;
  status.current_state = state;
  return StatusLine(state, StateWords(status, activity));
}

std::string StatusNotification(const ServiceStatus& status, const std::string& activity) {
  std::string text = StatusLine(status.current_state, StateWords(status, activity));
  text.pop_back();
  text += "\nX_SCHEDEXE_STATE=" + std::to_string(status.current_state);
  text += "\nX_SCHEDEXE_CHECKPOINT=" + std::to_string(status.check_point);
  text += "\nX_SCHEDEXE_WAIT_HINT=" + std::to_string(status.wait_hint);
  text += "\nX_SCHEDEXE_CONTROLS=" + std::to_string(status.controls_accepted);
  text += "\nX_SCHEDEXE_WIN32_EXIT_CODE=" + std::to_string(status.win32_exit_code);
  text += "\nX_SCHEDEXE_SERVICE_EXIT_CODE=" + std::to_string(status.service_specific_exit_code);
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
  const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent = sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                              reinterpret_cast<const sockaddr*>(&address), length);
  close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

}  // namespace platform::posix
