#include "dmi/agent_client_directory.h"

#include "platform/registry_path.h"

namespace dmi {

bool ReadAgentClientDirectory(std::string* directory) {
  return platform::ReadRegistryPath(kAgentKey, kAgentPathValue, kClientDirectorySuffix,
                                    directory) == platform::RegistryStatus::kOk;
}

}  // namespace dmi
