#include "platform/registry_path.h"

#include <cstring>

namespace platform {

RegistryStatus ReadRegistryPath(const char* subkey, const char* value_name, const char* suffix,
                                std::string* out) {
  out->clear();
  char buffer[kPathBufferSize];
  const RegistryStatus status =
      SystemEnv().ReadRegistryString(subkey, value_name, buffer, sizeof buffer);
  if (status != RegistryStatus::kOk) return status;
  const size_t length = std::strlen(buffer);
  if (length + std::strlen(suffix) >= kPathBufferSize) {
    return RegistryStatus::kUnreadable;
  }
  out->assign(buffer, length);
  out->append(suffix);
  return status;
}

}  // namespace platform
