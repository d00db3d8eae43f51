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

// Why `text` would not read back as written in the role `what` ("section",
// "key" or "value"), or "" when it would: the writers of the file refuse it.
std::string Unreadable(const std::string& text, const std::string& what);

// "[SECTION] KEY: TEXT"
std::string FormatProblem(const ProfileProblem& problem);

}  // namespace tools

#endif  // SCHEDEXE_TOOLS_PROFILE_CHECK_H_
