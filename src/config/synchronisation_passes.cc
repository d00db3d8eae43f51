#include "config/synchronisation_passes.h"

#include <algorithm>
#include <climits>
#include <cstddef>

#include "dmi/command_runner.h"
#include "dmi/dmi_commands.h"
#include "platform/thread.h"
#include "schedule/task_number.h"

namespace config {

namespace {

// The profile number of the event's DMI row (the row itself is one more).
// Tasks are slot numbers; the largest int has no row to go with it, so it is
// kept one short rather than overflow.
int ProfileNumber(const schedule::ScheduleEvent& event) {
  return std::min(schedule::TaskNumber(event.GetTask()), INT_MAX - 1);
}

void ReportActive(const schedule::ScheduleEvent& event) {
  dmi::RunAgentCommand(dmi::ProfileActiveCommand(ProfileNumber(event)));
}

// The walk both passes share; a reload leaves active profiles alone and
// wakes the dispatcher after a deletion.
void SynchroniseProfiles(ScheduleConfig& snapshot, bool reload) {
  LiveQueue* host = snapshot.GetHost();
  const auto& events = snapshot.GetEvents();
  const size_t visits = VisitedEvents(snapshot);
  for (size_t i = 0; i < visits; ++i) {
    // A paused worker stops between events.
    platform::PausePoint();
    schedule::ScheduleEvent& event = *events[i];
    const std::string task = event.GetTask();
    switch (event.GetState()) {
      case schedule::kStateActive:
        // Queued at start-up; a reload finds them queued already.
        if (!reload) host->AddEvent(event);
        break;
      case schedule::kStateAdd:
        event.SetState(schedule::kStateActive);
        host->AddEvent(event);
        ReportActive(event);
        break;
      case schedule::kStateDelete:
        host->RemoveEvent(task, true);
        snapshot.ReleaseDeletedProfile(task);
        // On a reload the removed event may be the one the timer waits for.
        if (reload) host->WakeScheduler();
        break;
      case schedule::kStateUpdate:
        // Out and in again, with the due time computed afresh.
        host->RemoveEvent(task, false);
        host->AddEvent(event);
        ReportActive(event);
        break;
      default:
        break;
    }
  }
  snapshot.ResetChanged();
  dmi::RunAgentCommand(dmi::kSynchCommand);
}

}  // namespace

size_t VisitCount(int32_t cat2Count, size_t loaded) {
  if (cat2Count <= 0) return 0;
  return std::min(static_cast<size_t>(cat2Count), loaded);
}

size_t VisitedEvents(const ScheduleConfig& snapshot) {
  return VisitCount(snapshot.GetCat2Count(), snapshot.GetEvents().size());
}

bool InitialPassQueues(int32_t state) {
  // As the walk below: active, added and updated profiles are queued.
  return state == schedule::kStateActive || state == schedule::kStateAdd ||
         state == schedule::kStateUpdate;
}

void InitialPass(ScheduleConfig& snapshot) { SynchroniseProfiles(snapshot, false); }

void ReloadPass(ScheduleConfig& snapshot) {
  if (!snapshot.IsChanged()) {
    dmi::RunAgentCommand(dmi::kSynchCommand);
    return;
  }
  // Later file writes of the engine go where this snapshot read from.
  snapshot.GetHost()->SetDataFile(snapshot.GetDataFile());
  SynchroniseProfiles(snapshot, true);
}

}  // namespace config
