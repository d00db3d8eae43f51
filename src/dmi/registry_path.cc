#include "dmi/registry_path.h"

#include <cstring>

namespace dmi {

platform::RegistryStatus ReadRegistryPath(const char* subkey,
                                          const char* value_name,
                                          const char* suffix, std::string* out) {
  out->clear();
  char buffer[kPathBufferSize];
  const platform::RegistryStatus status = platform::SystemEnv().ReadRegistryString(
      subkey, value_name, buffer, sizeof buffer);
  if (status != platform::RegistryStatus::kOk) return status;
  const size_t length = std::strlen(buffer);
  if (length + std::strlen(suffix) >= kPathBufferSize) {
    return platform::RegistryStatus::kUnreadable;
  }
  out->assign(buffer, length);
  out->append(suffix);
  return status;
}

bool ReadAgentClientDirectory(std::string* directory) {
  return ReadRegistryPath(kAgentKey, kAgentPathValue, kClientDirectorySuffix,
                          directory) == platform::RegistryStatus::kOk;
}

}  // namespace dmi
