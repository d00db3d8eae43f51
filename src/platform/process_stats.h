// Figures about this process for benchmarks: how often its threads gave up
// the processor, and how much memory it holds.
#ifndef SCHEDEXE_PLATFORM_PROCESS_STATS_H_
#define SCHEDEXE_PLATFORM_PROCESS_STATS_H_

#include <cstdint>

namespace platform {

// Voluntary context switches of all threads so far; -1 where unknown.
int64_t VoluntaryContextSwitches();
// Resident memory in bytes; -1 where unknown.
int64_t ResidentBytes();

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_PROCESS_STATS_H_
