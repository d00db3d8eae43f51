#include "dmi/dmi_commands.h"

#include <gtest/gtest.h>

namespace dmi {
namespace {

// Every command text written out in full, for slot/profile 3 and for the
// first slot and counts of 0, so a change to any fixed text or row offset
// shows here.
TEST(DmiCommandsTest, EveryCommandTextMatchesTheAgentsFormat) {
  const std::string group = "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|";
  const std::string sp = group + "Scheduler Profile Table|\" ";
  const std::string sps = group + "Scheduler Profiles|\" ";
  const std::string list = group + "EventCat2 List|\" ";
  const std::string table = group + "Event Cat2 Table|\" ";
  const std::pair<std::string, std::string> cases[] = {
      {ProfileActiveCommand(3), sp + "7 \"Active\" \"A1|4\" 8"},
      {ProfileActiveCommand(1), sp + "7 \"Active\" \"A1|2\" 8"},
      {ProfileDeleteCommand(4), sp + "7 \"Delete\" \"A1|4\" 8"},
      {ProfileNameUnusedCommand(3), sp + "2 \"Unused\" \"A1|4\" 8"},
      {ProfileStateUnusedCommand(3), sp + "7 \"Unused\" \"A1|4\" 8"},
      {ProfileListEntryUnusedCommand(3), sps + "2 \"Unused\" \"A1|9\" 8"},
      {ProfileListEntryUnusedCommand(1), sps + "2 \"Unused\" \"A1|7\" 8"},
      {ProfileCountCommand(4), sps + "2 4 \"A1|6\" 8"},
      {ProfileCountCommand(0), sps + "2 0 \"A1|6\" 8"},
      {Cat2ListEntryUnusedCommand(3), list + "2 \"Unused\" \"A1|15\" 8"},
      {Cat2ListEntryUnusedCommand(1), list + "2 \"Unused\" \"A1|13\" 8"},
      {Cat2ListCountCommand(2), list + "2 2 \"A1|11\" 8"},
      {Cat2ListCountCommand(0), list + "2 0 \"A1|11\" 8"},
      {Cat2ListLastEventClearCommand(), list + "2 0 \"A1|12\" 8"},
      {Cat2ListUnchangedCommand(), list + "2 \"False\" \"A1|3\" 8"},
      {Cat2FiredCommand(3), table + "5 \"True\" \"A1|4\" 8"},
      {Cat2FiredCommand(1), table + "5 \"True\" \"A1|2\" 8"},
      {GeneralFiredCommand(), group + "General|\" 2 \"True\" \"A1|3\" 8"},
      {kSynchCommand, "DmiSetValue \"CORVANEX|Remote Execution Triggers|\" 16 \"synch\" \"\" 8"},
      {Cat2ResponseCountCommand(3, 5), table + "6 5 \"A1|4\" 8"},
      {Cat2ResponseCountCommand(12, 0), table + "6 0 \"A1|13\" 8"},
      {Cat2ResponseUnusedCommand(3, 1), table + "7 \"Unused\" \"A1|4\" 8"},
      {Cat2ResponseUnusedCommand(3, 12), table + "18 \"Unused\" \"A1|4\" 8"},
      // The editor's rows.
      {ProfileTableTextCommand(3, kProfileDayAttribute, "Friday"), sp + "6 \"Friday\" \"A1|4\" 8"},
      {ProfileListEntryCommand(3, "Daily run"), sps + "2 \"Daily run\" \"A1|9\" 8"},
      {Cat2ListEntryCommand(1, "x"), list + "2 \"x\" \"A1|13\" 8"},
      {Cat2NameCommand(12, "y"), table + "2 \"y\" \"A1|13\" 8"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

}  // namespace
}  // namespace dmi
