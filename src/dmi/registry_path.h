// Paths the agent publishes in the registry: a directory value with a fixed
// text appended, held to the 1024-byte buffers the agent's programs use.
#ifndef SCHEDEXE_DMI_REGISTRY_PATH_H_
#define SCHEDEXE_DMI_REGISTRY_PATH_H_

#include <cstddef>
#include <string>

#include "platform/env.h"

namespace dmi {

// Size of every registry value and command line buffer.
inline constexpr size_t kPathBufferSize = 1024;

inline constexpr char kAgentKey[] = "SOFTWARE\\Corvane\\Teltrix";
inline constexpr char kAgentPathValue[] = "TTX Path";
inline constexpr char kClientDirectorySuffix[] = "\\KVClient\\";

// Reads HKEY_LOCAL_MACHINE\subkey's value and appends `suffix`. A value whose
// text with the suffix does not fit kPathBufferSize is unreadable: it is
// refused rather than cut into a path that names something else.
platform::RegistryStatus ReadRegistryPath(const char* subkey,
                                          const char* value_name,
                                          const char* suffix, std::string* out);

// The agent client directory: "TTX Path" followed by "\KVClient\". False when
// it cannot be read; the directory is read afresh on every call.
bool ReadAgentClientDirectory(std::string* directory);

}  // namespace dmi

#endif  // SCHEDEXE_DMI_REGISTRY_PATH_H_
