#include "dmi/class_path.h"

namespace dmi {

ClassPath SplitClassPath(std::string_view path) {
  size_t bar = std::string_view::npos;
  for (int i = 0; i < 3; ++i) {
    bar = path.find('|', bar == std::string_view::npos ? 0 : bar + 1);
    if (bar == std::string_view::npos) return {false, "", std::string(path)};
  }
  return {true, std::string(path.substr(0, bar)), std::string(path.substr(bar + 1))};
}

bool ClassMatches(std::string_view search, std::string_view classString) {
  if (classString.starts_with(search)) return true;
  const size_t bar = classString.find('|');
  return search.starts_with('|') && bar != std::string_view::npos &&
         classString.substr(bar).starts_with(search);
}

}  // namespace dmi
