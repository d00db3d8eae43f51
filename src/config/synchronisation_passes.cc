// The passes that bring the live queue, the data file and the DMI tables into
// line with the profiles a fresh snapshot has read.
#include <algorithm>
#include <climits>
#include <cstddef>

#include "config/schedule_config.h"
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

// Events past the list's count belong to slots the list no longer counts.
size_t VisitCount(int32_t cat2Count, size_t loaded) {
  if (cat2Count <= 0) return 0;
  return std::min(static_cast<size_t>(cat2Count), loaded);
}

}  // namespace

void ScheduleConfig::InitialPass() { SynchroniseProfiles(false); }

void ScheduleConfig::ReloadPass() {
  if (!IsChanged()) {
    dmi::RunAgentCommand(dmi::kSynchCommand);
    return;
  }
  // Later file writes of the engine go where this snapshot read from.
  host->SetDataFile(dataFile);
  SynchroniseProfiles(true);
}

void ScheduleConfig::SynchroniseProfiles(bool reload) {
  const size_t visits = VisitCount(cat2Count, events.size());
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
        ReleaseDeletedProfile(task);
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
  ResetChanged();
  dmi::RunAgentCommand(dmi::kSynchCommand);
}

}  // namespace config
