// The Cat2 list and scheduler-profile table upkeep of a snapshot: finding a
// slot by its user event's name, marking a slot's event fired, and releasing
// the slot of a deleted profile, in the data file and in the DMI tables.
#include "config/cat2_event.h"
#include "config/schedule_config.h"
#include "dmi/command_runner.h"
#include "dmi/dmi_commands.h"
#include "platform/text.h"

namespace config {

int32_t ScheduleConfig::FindCat2Number(const std::string& name) const {
  for (int n = 1; n <= kSlotCount; ++n) {
    if (platform::EqualsIgnoreCase(
            ReadProfileText(dataFile, kUserAlarmList, kCat2EntryPrefix + std::to_string(n)),
            name)) {
      return n;
    }
  }
  return 0;
}

void ScheduleConfig::MarkCat2Fired(const schedule::ScheduleEvent& event) {
  const int32_t n = FindCat2Number(ProfileName(event.GetTask()));
  if (n == 0) return;
  WriteProfileText(dataFile, kCat2SectionPrefix + std::to_string(n), kEventStatusKey, kTrueWord);
  dmi::RunAgentCommand(dmi::Cat2FiredCommand(n));
  dmi::RunAgentCommand(dmi::GeneralFiredCommand());
  dmi::RunAgentCommand(dmi::kSynchCommand);
}

void ScheduleConfig::ReleaseDeletedProfile(const std::string& task) {
  if (!platform::EqualsIgnoreCase(ProfileText(task, kStateKey), kDeleteWord)) return;
  const int32_t n = FindCat2Number(ProfileName(task));
  if (n == 0) return;
  ResetCat2Record(n);
  ReleaseCat2ListEntry(n);
  ReleaseProfileListEntry(n);
}

void ScheduleConfig::ResetCat2Record(int32_t n) {
  if (ReadProfileInt(dataFile, kUserAlarmList, kCat2CountKey) <= 0) return;
  Cat2Event record;
  record.Load(n);
  record.ResetResponses();
}

void ScheduleConfig::ReleaseCat2ListEntry(int32_t n) {
  const int count = ReadProfileInt(dataFile, kUserAlarmList, kCat2CountKey);
  if (count <= 0) return;
  dmi::RunAgentCommand(dmi::Cat2ListEntryUnusedCommand(n));
  WriteProfileText(dataFile, kUserAlarmList, kCat2CountKey, std::to_string(count - 1));
  dmi::RunAgentCommand(dmi::Cat2ListCountCommand(count - 1));
  dmi::RunAgentCommand(dmi::Cat2ListLastEventClearCommand());
}

void ScheduleConfig::ReleaseProfileListEntry(int32_t n) {
  const int count = ReadProfileInt(dataFile, kProfilesSection, kProfileCountKey);
  if (count <= 0) return;
  dmi::RunAgentCommand(dmi::ProfileListEntryUnusedCommand(n));
  WriteProfileText(dataFile, kProfilesSection, kProfileCountKey, std::to_string(count - 1));
  dmi::RunAgentCommand(dmi::ProfileCountCommand(count - 1));
  dmi::RunAgentCommand(dmi::ProfileNameUnusedCommand(n));
  dmi::RunAgentCommand(dmi::ProfileStateUnusedCommand(n));
}

}  // namespace config
