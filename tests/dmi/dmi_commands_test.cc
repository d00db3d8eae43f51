#include "dmi/dmi_commands.h"

#include <gtest/gtest.h>

namespace dmi {
namespace {

// Every command text, written out in full for slot/profile 3 where a number
// is variable, so a change to any fixed text or row offset shows here.
TEST(DmiCommandsTest, EveryCommandTextMatchesTheAgentsFormat) {
  const std::string sp =
      "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
      "Scheduler Profile Table|\" ";
  const std::string sps =
      "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
      "Scheduler Profiles|\" ";
  const std::string list =
      "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
      "EventCat2 List|\" ";
  const std::string table =
      "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
      "Event Cat2 Table|\" ";
  EXPECT_EQ(ProfileActiveCommand(3), sp + "7 \"Active\" \"A1|4\" 8");
  EXPECT_EQ(ProfileDeleteCommand(4), sp + "7 \"Delete\" \"A1|4\" 8");
  EXPECT_EQ(ProfileNameUnusedCommand(3), sp + "2 \"Unused\" \"A1|4\" 8");
  EXPECT_EQ(ProfileStateUnusedCommand(3), sp + "7 \"Unused\" \"A1|4\" 8");
  EXPECT_EQ(ProfileListEntryUnusedCommand(3), sps + "2 \"Unused\" \"A1|9\" 8");
  EXPECT_EQ(ProfileCountCommand(4), sps + "2 4 \"A1|6\" 8");
  EXPECT_EQ(Cat2ListEntryUnusedCommand(3), list + "2 \"Unused\" \"A1|15\" 8");
  EXPECT_EQ(Cat2ListCountCommand(2), list + "2 2 \"A1|11\" 8");
  EXPECT_EQ(Cat2ListLastEventClearCommand(), list + "2 0 \"A1|12\" 8");
  EXPECT_EQ(Cat2ListUnchangedCommand(), list + "2 \"False\" \"A1|3\" 8");
  EXPECT_EQ(Cat2FiredCommand(3), table + "5 \"True\" \"A1|4\" 8");
  EXPECT_EQ(GeneralFiredCommand(),
            "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||"
            "CORVANEX|General|\" 2 \"True\" \"A1|3\" 8");
  EXPECT_EQ(std::string(kSynchCommand),
            "DmiSetValue \"CORVANEX|Remote Execution Triggers|\" 16 \"synch\" "
            "\"\" 8");
  EXPECT_EQ(Cat2ResponseCountCommand(3, 5), table + "6 5 \"A1|4\" 8");
  EXPECT_EQ(Cat2ResponseUnusedCommand(3, 1), table + "7 \"Unused\" \"A1|4\" 8");
  EXPECT_EQ(Cat2ResponseUnusedCommand(3, 12), table + "18 \"Unused\" \"A1|4\" 8");
}

TEST(DmiCommandsTest, RowOffsetsForTheFirstSlotAndCountsOfZero) {
  // Slot 1 lands on row 2 of the tables, row 13 of the list, row 7 of the
  // profile list; a release from a count of 1 sends a bare 0.
  EXPECT_NE(ProfileActiveCommand(1).find("\"A1|2\" 8"), std::string::npos);
  EXPECT_NE(Cat2ListEntryUnusedCommand(1).find("\"A1|13\" 8"), std::string::npos);
  EXPECT_NE(ProfileListEntryUnusedCommand(1).find("\"A1|7\" 8"), std::string::npos);
  EXPECT_NE(Cat2FiredCommand(1).find("\"A1|2\" 8"), std::string::npos);
  EXPECT_NE(ProfileCountCommand(0).find("|\" 2 0 \"A1|6\" 8"), std::string::npos);
  EXPECT_NE(Cat2ListCountCommand(0).find("|\" 2 0 \"A1|11\" 8"), std::string::npos);
  EXPECT_NE(Cat2ResponseCountCommand(12, 0).find("\" 6 0 \"A1|13\" 8"),
            std::string::npos);
}

TEST(DmiCommandsTest, TheLongestFixedTextLeavesRoomInTheCommandLine) {
  // Directory values up to the rest of the 1024-byte line must still fit.
  const size_t longest = Cat2ResponseUnusedCommand(12, 12).size();
  EXPECT_LT(longest, 120u);
}

}  // namespace
}  // namespace dmi
