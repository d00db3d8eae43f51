#include "config/profile_access.h"

#include <vector>

#include "kvbase/profile.h"

namespace config {

std::string ReadProfileText(const std::string& file, const std::string& section,
                            const std::string& key, int size) {
  std::vector<char> buffer(size > 0 ? size : 1, '\0');
  TARNG_GetProfileString(section.c_str(), key.c_str(), "", buffer.data(), size, file.c_str());
  buffer.back() = '\0';
  return buffer.data();
}

int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key) {
  return TARNG_GetProfileInt(section.c_str(), key.c_str(), 0, file.c_str());
}

void WriteProfileText(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value) {
  TARNG_WriteProfileString(section.c_str(), key.c_str(), value.c_str(), file.c_str());
}

}  // namespace config
