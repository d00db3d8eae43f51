#include "config/synchronisation_passes.h"

#include <algorithm>
#include <climits>
#include <cstddef>

#include "dmi/command_runner.h"
#include "dmi/dmi_commands.h"
#include "platform/file.h"
#include "platform/log.h"
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

// What the log says of the slots a pass leaves out.
std::string FileName(const ScheduleConfig& snapshot) {
  const std::string& file = snapshot.GetDataFile();
  return file.empty() ? "(no data file)" : platform::NativePath(file);
}

void LogSkippedSlots(const ScheduleConfig& snapshot, size_t visits) {
  using platform::LogLevel;
  if (!platform::LogEnabled(LogLevel::kWarning)) return;
  for (const std::string& note : snapshot.GetSkipNotes()) platform::Log(LogLevel::kWarning, note);
  const auto& events = snapshot.GetEvents();
  for (size_t i = visits; i < events.size(); ++i) {
    platform::LogParts(LogLevel::kWarning, "slot ", events[i]->GetTask(), " (",
                       kProfileSectionPrefix, events[i]->GetTask(),
                       "): skipped: beyond \"Number of Cat2 Events\" (",
                       std::to_string(snapshot.GetCat2Count()), ")");
  }
}

// What a pass does with a profile in a given state: the one table both the
// walk and the timers view read.
enum class Action { kNone, kQueue, kAdd, kDelete, kUpdate };

Action ActionFor(int32_t state, bool reload) {
  switch (state) {
    case schedule::kStateActive:
      // Queued at start-up; a reload finds them queued already.
      return reload ? Action::kNone : Action::kQueue;
    case schedule::kStateAdd:
      return Action::kAdd;
    case schedule::kStateDelete:
      return Action::kDelete;
    case schedule::kStateUpdate:
      return Action::kUpdate;
    default:
      return Action::kNone;
  }
}

// The walk both passes share; a reload leaves active profiles alone and
// wakes the dispatcher after a deletion.
void SynchroniseProfiles(ScheduleConfig& snapshot, bool reload) {
  LiveQueue* host = snapshot.GetHost();
  const auto& events = snapshot.GetEvents();
  const size_t visits = VisitedEvents(snapshot);
  LogSkippedSlots(snapshot, visits);
  int queued = 0, updated = 0, deleted = 0;
  for (size_t i = 0; i < visits; ++i) {
    // A paused worker stops between events.
    platform::PausePoint();
    schedule::ScheduleEvent& event = *events[i];
    const std::string task = event.GetTask();
    switch (ActionFor(event.GetState(), reload)) {
      case Action::kQueue:
        host->AddEvent(event);
        ++queued;
        break;
      case Action::kAdd:
        event.SetState(schedule::kStateActive);
        host->AddEvent(event);
        ReportActive(event);
        ++queued;
        break;
      case Action::kDelete:
        ++deleted;
        host->RemoveEvent(task, true);
        snapshot.ReleaseDeletedProfile(task);
        // On a reload the removed event may be the one the timer waits for.
        if (reload) host->WakeScheduler();
        break;
      case Action::kUpdate:
        // Out and in again, with the due time computed afresh.
        host->RemoveEvent(task, false);
        host->AddEvent(event);
        ReportActive(event);
        ++updated;
        break;
      case Action::kNone:
        break;
    }
  }
  snapshot.ResetChanged();
  dmi::RunAgentCommand(dmi::kSynchCommand);
  platform::LogParts(platform::LogLevel::kNotice, reload ? "reload" : "initial pass", " of ",
                     FileName(snapshot), ": ", std::to_string(queued), " queued, ",
                     std::to_string(updated), " updated, ", std::to_string(deleted), " deleted");
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
  const Action action = ActionFor(state, false);
  return action != Action::kNone && action != Action::kDelete;
}

bool ReloadPassActsOn(int32_t state) { return ActionFor(state, true) != Action::kNone; }

void InitialPass(ScheduleConfig& snapshot) { SynchroniseProfiles(snapshot, false); }

void ReloadPass(ScheduleConfig& snapshot) {
  if (!snapshot.IsChanged()) {
    dmi::RunAgentCommand(dmi::kSynchCommand);
    platform::LogParts(platform::LogLevel::kNotice, "reload of ", FileName(snapshot),
                       ": the user-event list is not marked \"Changed=True\"; nothing done");
    return;
  }
  // Later file writes of the engine go where this snapshot read from.
  snapshot.GetHost()->SetDataFile(snapshot.GetDataFile());
  SynchroniseProfiles(snapshot, true);
}

}  // namespace config
