// The number a task text stands for: the slot of its scheduler profile.
#ifndef SCHEDEXE_SCHEDULE_TASK_NUMBER_H_
#define SCHEDEXE_SCHEDULE_TASK_NUMBER_H_

#include <string>

namespace schedule {

// The task text as C's atoi reads it (leading blanks, optional sign, decimal
// digits; 0 when none), except that a value beyond the int range comes out
// as INT_MAX or INT_MIN instead of being undefined.
int TaskNumber(const std::string& task);

}  // namespace schedule

#endif  // SCHEDEXE_SCHEDULE_TASK_NUMBER_H_
