// What the service would pass over in silence in a data file: words it does
// not know, numbers it rolls over, slots and names its passes and lookups
// never reach. Every rule is the loader's or the passes' own.
#ifndef SCHEDEXE_TOOLS_PROFILE_CHECK_H_
#define SCHEDEXE_TOOLS_PROFILE_CHECK_H_

#include <cstdint>
#include <string>
#include <vector>

#include "schedule/schedule_event.h"

namespace tools {

struct ProfileProblem {
  std::string section;
  std::string key;
  std::string text;
};

// The problems of the file, slot by slot; none for a clean file.
std::vector<ProfileProblem> CheckProfileFile(const std::string& file);

// Why a start would not queue the event, "" when it would: beyond the
// passes' walk (`visited` false, `count` the list's count), irregular, a
// state the initial pass does not queue, or a one-time event that passed.
std::string WhyNotQueued(const schedule::ScheduleEvent& e, bool visited, int32_t count);

// Why `text` would not read back as written in the role `what` ("section",
// "key" or "value"), or "" when it would: the writers of the file refuse it.
std::string Unreadable(const std::string& text, const std::string& what);

// "[SECTION] KEY: TEXT"
std::string FormatProblem(const ProfileProblem& problem);

}  // namespace tools

#endif  // SCHEDEXE_TOOLS_PROFILE_CHECK_H_
