// Where the Linux named objects (events and mutexes) live.
#ifndef SCHEDEXE_PLATFORM_POSIX_NAMED_EVENT_H_
#define SCHEDEXE_PLATFORM_POSIX_NAMED_EVENT_H_

#include <string>
#include <string_view>

namespace platform::posix {

// POSIX shared memory object of the event `name` ("TARNSCHED" ->
// "/schedexe.TARNSCHED"); "" for a name that cannot be one (empty, with '/',
// too long).
std::string NamedEventObject(std::string_view name);

// Creates the shared memory object `object` (mode 0666 whatever the umask,
// as a null DACL is open to everyone on Windows) or opens it when it exists.
// The descriptor, or -1.
int CreateOrOpenSharedObject(const std::string& object);

// Removes the snapshot objects this process publishes. Called as the process
// ends, which runs no destructor: on Windows they go with its last handle.
void RemovePublishedSnapshots();

}  // namespace platform::posix

#endif  // SCHEDEXE_PLATFORM_POSIX_NAMED_EVENT_H_
