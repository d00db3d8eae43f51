// The folder of the agent's client programs (DmiSetValue, wactivate, kvcmd),
// which the agent publishes in the registry.
#ifndef SCHEDEXE_DMI_AGENT_CLIENT_DIRECTORY_H_
#define SCHEDEXE_DMI_AGENT_CLIENT_DIRECTORY_H_

#include <string>

namespace dmi {

inline constexpr char kAgentKey[] = "SOFTWARE\\Corvane\\Teltrix";
inline constexpr char kAgentPathValue[] = "TTX Path";
inline constexpr char kClientDirectorySuffix[] = "\\KVClient\\";

// The agent client directory: "TTX Path" followed by "\KVClient\". False when
// it cannot be read or would not fit a path buffer; the directory is read
// afresh on every call.
bool ReadAgentClientDirectory(std::string* directory);

}  // namespace dmi

#endif  // SCHEDEXE_DMI_AGENT_CLIENT_DIRECTORY_H_
