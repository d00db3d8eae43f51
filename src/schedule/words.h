// Words of the data file and of the schedule text form compare without
// regard to case, as the C library's _stricmp compares them.
#ifndef SCHEDEXE_SCHEDULE_WORDS_H_
#define SCHEDEXE_SCHEDULE_WORDS_H_

#include <string_view>

namespace schedule {

// ASCII letters fold; every other byte compares as it stands.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

}  // namespace schedule

#endif  // SCHEDEXE_SCHEDULE_WORDS_H_
