#include "platform/registry_path.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/log.h"

namespace platform {

namespace {

// Says once when a value becomes unreadable and once when it reads again,
// however often it is asked for meanwhile.
void LogChange(const char* subkey, const char* value_name, RegistryStatus status) {
  static auto* mutex = new std::mutex;
  static auto* last = new std::map<std::string, RegistryStatus>;
  const std::string name =
      std::string("HKEY_LOCAL_MACHINE\\") + subkey + " value \"" + value_name + "\"";
  {
    std::lock_guard<std::mutex> lock(*mutex);
    auto [it, added] = last->emplace(name, status);
    if (added && status == RegistryStatus::kOk) return;
    if (!added && it->second == status) return;
    it->second = status;
  }
  switch (status) {
    case RegistryStatus::kOk:
      LogParts(LogLevel::kNotice, "registry: ", name, " reads again");
      break;
    case RegistryStatus::kNoKey: {
      const std::string problem = SystemEnv().RegistryProblem();
      if (problem.empty()) {
        LogParts(LogLevel::kError, "registry: cannot open the key of ", name);
      } else {
        LogParts(LogLevel::kError, "registry: ", problem, ", so ", name, " cannot be read");
      }
      break;
    }
    case RegistryStatus::kUnreadable:
      LogParts(LogLevel::kError, "registry: cannot read ", name,
               " (missing, not a string, or longer than ", std::to_string(kPathBufferSize - 1),
               " characters with its suffix)");
      break;
  }
}

}  // namespace

RegistryStatus ReadRegistryPath(const char* subkey, const char* value_name, const char* suffix,
                                std::string* out) {
  out->clear();
  char buffer[kPathBufferSize];
  RegistryStatus status = SystemEnv().ReadRegistryString(subkey, value_name, buffer, sizeof buffer);
  if (status == RegistryStatus::kOk &&
      std::strlen(buffer) + std::strlen(suffix) >= kPathBufferSize) {
    status = RegistryStatus::kUnreadable;
  }
  if (LogEnabled(LogLevel::kError)) LogChange(subkey, value_name, status);
  if (status != RegistryStatus::kOk) return status;
  out->assign(buffer);
  out->append(suffix);
  return status;
}

}  // namespace platform
