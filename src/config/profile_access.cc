#include "config/profile_access.h"

#include <atomic>
#include <cctype>
#include <cstring>
#include <vector>

#include "kvbase/profile.h"
#include "platform/faults.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/text.h"

namespace config {

namespace {

std::atomic<int64_t> profile_calls{0};

}  // namespace

std::string ReadProfileText(const std::string& file, const std::string& section,
                            const std::string& key, int size) {
  ++profile_calls;
  std::vector<char> buffer(static_cast<size_t>(size > 0 ? size : 1), '\0');
  TARNG_GetProfileString(section.c_str(), key.c_str(), "", buffer.data(), size, file.c_str());
  buffer.back() = '\0';
  return buffer.data();
}

int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key) {
  ++profile_calls;
  return TARNG_GetProfileInt(section.c_str(), key.c_str(), 0, file.c_str());
}

void WriteProfileText(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value) {
  ++profile_calls;
  std::string error;
  if (kvbase::WriteProfileString(section.c_str(), key.c_str(), value.c_str(), file.c_str(),
                                 &error)) {
    platform::ClearFault(platform::Fault::kDataFileWrite);
    return;
  }
  platform::SetFault(platform::Fault::kDataFileWrite,
                     "cannot write data file " + platform::NativePath(file) + ": " + error);
  platform::LogParts(platform::LogLevel::kError, "cannot write data file ",
                     platform::NativePath(file), " [", section, "] ", key, "=", value, ": ", error);
}

std::set<int> ListedKeyNumbers(const std::string& file, const std::string& section,
                               std::string_view prefix, int count) {
  std::set<int> numbers;
  if (count <= 0) return numbers;
  std::vector<char> list(4096);
  while (true) {
    ++profile_calls;
    const size_t n = static_cast<size_t>(TARNG_GetProfileString(
        section.c_str(), nullptr, "", list.data(), static_cast<int>(list.size()), file.c_str()));
    // A listing that filled the buffer may have been cut.
    if (n + 2 < list.size() || list.size() >= (size_t{1} << 26)) break;
    list.assign(list.size() * 2, '\0');
  }
  for (const char* key = list.data(); *key; key += std::strlen(key) + 1) {
    const std::string_view name(key);
    // Key names compare without regard to case; a decimal number never has
    // a sign or a leading zero, so only such digits can match.
    if (name.size() <= prefix.size() ||
        !platform::EqualsIgnoreCase(name.substr(0, prefix.size()), prefix) ||
        name[prefix.size()] == '0' || name.size() - prefix.size() > 10) {
      continue;
    }
    int64_t value = 0;
    bool digits = true;
    for (size_t i = prefix.size(); i < name.size() && digits; ++i) {
      digits = std::isdigit(static_cast<unsigned char>(name[i])) != 0;
      value = value * 10 + (name[i] - '0');
    }
    if (digits && value <= count) numbers.insert(static_cast<int>(value));
  }
  return numbers;
}

int64_t ProfileCallsForTesting() { return profile_calls.load(); }

}  // namespace config
