#include "platform/registry_path.h"

#include <cstring>
#include <map>
#include <mutex>

#include "platform/faults.h"
#include "platform/log.h"

namespace platform {

namespace {

std::string ProblemText(const std::string& name, RegistryStatus status) {
  if (status == RegistryStatus::kUnreadable) {
    return "registry: cannot read " + name + " (missing, not a string, or longer than " +
           std::to_string(kPathBufferSize - 1) + " characters with its suffix)";
  }
  const std::string problem = SystemEnv().RegistryProblem();
  if (problem.empty()) return "registry: cannot open the key of " + name;
  return "registry: " + problem + ", so " + name + " cannot be read";
}

// Says once when a value becomes unreadable and once when it reads again,
// however often it is asked for meanwhile; the registry's fault lasts while
// any value it was asked for does not read.
void NoteStatus(const char* subkey, const char* value_name, RegistryStatus status) {
  static auto* mutex = new std::mutex;
  static auto* last = new std::map<std::string, std::string>;  // name -> problem
  const std::string name =
      std::string("HKEY_LOCAL_MACHINE\\") + subkey + " value \"" + value_name + "\"";
  const std::string problem = status == RegistryStatus::kOk ? "" : ProblemText(name, status);
  std::string fault;
  {
    std::lock_guard<std::mutex> lock(*mutex);
    auto [it, added] = last->emplace(name, problem);
    if (added ? problem.empty() : it->second == problem) return;
    it->second = problem;
    for (const auto& [unused, text] : *last) {
      if (fault.empty()) fault = text;
    }
  }
  SetFault(Fault::kRegistry, fault);
  if (problem.empty()) {
    LogParts(LogLevel::kNotice, "registry: ", name, " reads again");
  } else {
    Log(LogLevel::kError, problem);
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
  NoteStatus(subkey, value_name, status);
  if (status != RegistryStatus::kOk) return status;
  out->assign(buffer);
  out->append(suffix);
  return status;
}

}  // namespace platform
