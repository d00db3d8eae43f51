#include "platform/process_stats.h"

#include <windows.h>
#include <psapi.h>

namespace platform {

// Windows keeps no count of voluntary switches.
int64_t VoluntaryContextSwitches() { return -1; }

int64_t ResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    return -1;
  }
  return static_cast<int64_t>(counters.WorkingSetSize);
}

}  // namespace platform
