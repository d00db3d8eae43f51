#include "schedule/task_number.h"

#include <climits>
#include <cstdlib>

namespace schedule {

int TaskNumber(const std::string& task) {
  // strtol saturates where atoi would overflow; a 64-bit long needs the
  // further cut to int.
  const long value = std::strtol(task.c_str(), nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

}  // namespace schedule
