// Paths kept in the registry: a directory value with a fixed text appended,
// held to the 1024-byte buffers the agent's programs and this system use.
#ifndef SCHEDEXE_PLATFORM_REGISTRY_PATH_H_
#define SCHEDEXE_PLATFORM_REGISTRY_PATH_H_

#include <cstddef>
#include <string>

#include "platform/env.h"

namespace platform {

// Size of every registry value and command line buffer.
inline constexpr size_t kPathBufferSize = 1024;

// Reads HKEY_LOCAL_MACHINE\subkey's value and appends `suffix`. A value whose
// text with the suffix does not fit kPathBufferSize is unreadable: it is
// refused rather than cut into a path that names something else. The value
// is read afresh on every call; `out` is "" unless the status is kOk.
RegistryStatus ReadRegistryPath(const char* subkey, const char* value_name, const char* suffix,
                                std::string* out);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_REGISTRY_PATH_H_
