// The passes that bring the live queue, the data file and the DMI tables into
// line with the profiles a fresh snapshot has read. Each runs on a snapshot
// made just before it.
#ifndef SCHEDEXE_CONFIG_SYNCHRONISATION_PASSES_H_
#define SCHEDEXE_CONFIG_SYNCHRONISATION_PASSES_H_

#include <cstddef>
#include <cstdint>

#include "config/schedule_config.h"

namespace config {

// How many of the snapshot's events, from the first, a pass visits: at most
// "Number of Cat2 Events"; later events belong to slots the list does not
// count and are never handled.
size_t VisitCount(int32_t cat2Count, size_t loaded);

// At start-up: queues every active, added or updated profile.
void InitialPass(ScheduleConfig& snapshot);
// On a reload, and only when the list is marked changed: acts on added,
// updated and deleted profiles. Both passes end with the change mark reset
// and the synch trigger.
void ReloadPass(ScheduleConfig& snapshot);

// What the passes look at and what the initial pass would queue, worked out
// without doing anything (schedexe-timers shows what a start would queue):
// the number of the snapshot's events a pass visits, and whether the initial
// pass hands a visited event of state `state` to the queue.
size_t VisitedEvents(const ScheduleConfig& snapshot);
bool InitialPassQueues(int32_t state);
// Whether a reload pass that handles changes acts on a visited event of
// state `state` (the editor waits for such a pass and finishes after it).
bool ReloadPassActsOn(int32_t state);

}  // namespace config

#endif  // SCHEDEXE_CONFIG_SYNCHRONISATION_PASSES_H_
