// What the service would pass over in silence in a data file: words it does
// not know, numbers it rolls over, slots and names its passes and lookups
// never reach. Every rule is the loader's or the passes' own.
#ifndef SCHEDEXE_TOOLS_PROFILE_CHECK_H_
#define SCHEDEXE_TOOLS_PROFILE_CHECK_H_

#include <string>
#include <vector>

namespace tools {

struct ProfileProblem {
  std::string section;
  std::string key;
  std::string text;
};

// The problems of the file, slot by slot; none for a clean file.
std::vector<ProfileProblem> CheckProfileFile(const std::string& file);

// "[SECTION] KEY: TEXT"
std::string FormatProblem(const ProfileProblem& problem);

}  // namespace tools

#endif  // SCHEDEXE_TOOLS_PROFILE_CHECK_H_
