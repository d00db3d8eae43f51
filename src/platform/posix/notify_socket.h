// systemd's notification protocol, as the service's status reports use it.
#ifndef SCHEDEXE_PLATFORM_POSIX_NOTIFY_SOCKET_H_
#define SCHEDEXE_PLATFORM_POSIX_NOTIFY_SOCKET_H_

#include <string>

#include "platform/service_dispatcher.h"

namespace platform::posix {

// The datagram that reports `status`: one NAME=value per line. `activity`
// is what the scheduler does, for a running or paused report.
std::string StatusNotification(const ServiceStatus& status, const std::string& activity);

// The message, no report, that tells of a new `activity` in `state`; empty
// where that state shows no activity.
std::string ActivityNotification(uint32_t state, const std::string& activity);

// Sends `message` as one datagram to the socket `path` (a leading '@' names
// a socket in the abstract namespace). False when it was not delivered.
bool SendNotification(const std::string& path, const std::string& message);

}  // namespace platform::posix

#endif  // SCHEDEXE_PLATFORM_POSIX_NOTIFY_SOCKET_H_
