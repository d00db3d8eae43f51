// Where the Linux named events live.
#ifndef SCHEDEXE_PLATFORM_POSIX_NAMED_EVENT_H_
#define SCHEDEXE_PLATFORM_POSIX_NAMED_EVENT_H_

#include <string>
#include <string_view>

namespace platform::posix {

// POSIX shared memory object of the event `name` ("TARNSCHED" ->
// "/schedexe.TARNSCHED"); "" for a name that cannot be one (empty, with '/',
// too long).
std::string NamedEventObject(std::string_view name);

}  // namespace platform::posix

#endif  // SCHEDEXE_PLATFORM_POSIX_NAMED_EVENT_H_
