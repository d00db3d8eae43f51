#include "platform/process_stats.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

namespace platform {

int64_t VoluntaryContextSwitches() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  return usage.ru_nvcsw;
}

int64_t ResidentBytes() {
  FILE* f = std::fopen("/proc/self/statm", "r");
  if (!f) return -1;
  long pages = 0, resident = 0;
  const int read = std::fscanf(f, "%ld %ld", &pages, &resident);
  std::fclose(f);
  if (read != 2) return -1;
  return static_cast<int64_t>(resident) * sysconf(_SC_PAGESIZE);
}

}  // namespace platform
