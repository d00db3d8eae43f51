#include "config/schedule_config.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/cat2_event.h"
#include "dmi/dmi_commands.h"
#include "support/data_dir.h"
#include "support/fake_env.h"
#include "support/manual_clock.h"

namespace config {
namespace {

using schedule::ScheduleEvent;

class ScheduleConfigTest : public ::testing::Test {
 protected:
  // 2027-04-14 10:20:00 UTC, a Wednesday.
  testsupport::UtcManualTime utc_{1807698000};
  testsupport::FakeEnv env_;
  testsupport::DataDir data_{env_, "config"};
};

constexpr char kCategories[] =
    "[TARN Event Categories]\r\nNumber of Categories=3\r\n"
    "EventCat1=System Alarms\r\nEventCat2=user ALARMS\r\nEventCat3=User Alarms\r\n";

TEST_F(ScheduleConfigTest, CategoryListCountAndChangeMark) {
  data_.Write(std::string(kCategories) +
              "[EventCat2 List]\r\nNumber of Cat2 Events=4\r\nChanged=TRUE\r\n"
              "[EventCat3 List]\r\nNumber of Cat2 Events=9\r\n");
  ScheduleConfig config(nullptr);
  // Any case matches; of two equal names the lower number wins.
  EXPECT_EQ(config.GetCategoryKey(), "EventCat2");
  EXPECT_EQ(config.GetCat2Count(), 4);
  EXPECT_TRUE(config.IsChanged());

  for (const char* mark : {"Changed=Yes\r\n", "Changed=\r\n", "", "Changed=true\r\n"}) {
    data_.Write(std::string(kCategories) + "[EventCat2 List]\r\n" + mark);
    EXPECT_EQ(ScheduleConfig(nullptr).IsChanged(), std::string(mark) == "Changed=true\r\n") << mark;
  }

  // No "User Alarms": the list is the section " List".
  data_.Write(
      "[TARN Event Categories]\nNumber of Categories=1\nEventCat1=Other\n"
      "[ List]\nNumber of Cat2 Events=2\nChanged=True\nCat2:1=x\n");
  ScheduleConfig orphan(nullptr);
  EXPECT_EQ(orphan.GetCategoryKey(), "");
  EXPECT_EQ(orphan.GetCat2Count(), 2);
  EXPECT_TRUE(orphan.IsChanged());
  // Missing file: nothing found, nothing breaks.
  data_.Write("");
  ScheduleConfig empty(nullptr);
  EXPECT_EQ(empty.GetCat2Count(), 0);
  EXPECT_FALSE(empty.IsChanged());
  EXPECT_TRUE(empty.GetEvents().empty());
}

// A garbled count costs a few reads, never one per number it names, and the
// answer is still the literal scan's: the lowest number whose key matches.
TEST_F(ScheduleConfigTest, CategoryCountOfAnySizeReadsOnlyTheKeysThatExist) {
  const struct {
    const char* count;
    const char* keys;
    const char* name;
    const char* key;
  } cases[] = {
      {"-3", "EventCat1=User Alarms\n", "User Alarms", ""},
      {"0", "EventCat1=User Alarms\n", "User Alarms", ""},
      {"1", "EventCat2=User Alarms\n", "User Alarms", ""},
      {"4294967298", "EventCat2=User Alarms\n", "User Alarms", "EventCat2"},
      {"1000000", "EventCat3=x\n", "User Alarms", ""},
      {"1000000", "EventCat3=x\neventcat7=USER alarms\nEventCat9=User Alarms\n", "User Alarms",
       "EventCat7"},
      {"2147483647", "EventCat1=x\nEventCat07=User Alarms\nEventCat-8=User Alarms\n", "User Alarms",
       ""},
      {"0x7fffffff", "EventCat2147483647=User Alarms\n", "User Alarms", "EventCat2147483647"},
      // A missing key reads "": the first number without a key names "".
      {"2147483647", "EventCat1=x\nEventCat2=y\nEventCat4=\n", "", "EventCat3"},
      {"2", "EventCat1=x\nEventCat2=y\n", "", ""},
  };
  for (const auto& c : cases) {
    data_.Write("");
    ScheduleConfig config(nullptr);
    data_.Write(std::string("[TARN Event Categories]\nNumber of Categories=") + c.count + "\n" +
                c.keys);
    const int64_t before = ProfileCallsForTesting();
    config.LoadCategory(c.name);
    EXPECT_EQ(config.GetCategoryKey(), c.key) << c.count << " " << c.keys;
    EXPECT_LE(ProfileCallsForTesting() - before, 8) << c.count << " " << c.keys;
  }
}

TEST_F(ScheduleConfigTest, ProfilesOfUsedSlotsBecomeEventsInSlotOrder) {
  data_.Write(std::string(kCategories) +
              "[EventCat2 List]\r\nCat2:1=Unused\r\nCat2:2=!UNUSED!\r\n"
              "Cat2:3=Backup\r\nCat2:4=unused\r\nCat2:5=\r\n"
              "Cat2:6=Weekly\r\nCat2:7=a\r\nCat2:8=b\r\nCat2:9=c\r\n"
              "Cat2:10=Unused\r\nCat2:11=Unused\r\nCat2:12=d\r\n"
              "[Scheduler Profile 3]\r\nFrequency=daily\r\nHour=23\r\nMinute=5\r\n"
              "State=ADD\r\n"
              // slot 5: empty list entry counts as in use
              "[Scheduler Profile 5]\r\nFrequency=One Time\r\nYear=2027\r\n"
              "Month=May\r\nDayOfMonth=2\r\nHour=7\r\nState=Removed\r\n"
              "[Scheduler Profile 6]\r\nFrequency=weekly\r\nDayOfWeek=tuesday\r\n"
              "Hour=8\r\nMinute=30\r\nState=update\r\n"
              // slot 7: no frequency, even with a state, gives no event
              "[Scheduler Profile 7]\r\nState=Add\r\n"
              "[Scheduler Profile 8]\r\nFrequency=Yearly\r\nMonth=Sept\r\n"
              "DayOfMonth=9am\r\nHour=-1\r\nMinute=99999999999\r\nState=Active\r\n"
              "[Scheduler Profile 9]\r\nFrequency=Irregular\r\nState=Delete\r\n"
              "[Scheduler Profile 12]\r\nFrequency=Monthly\r\nDayOfMonth=9am\r\n"
              "Hour=-1\r\nMinute=45\r\n");
  ScheduleConfig config(nullptr);
  const auto& events = config.GetEvents();
  std::vector<std::string> tasks;
  for (const auto& e : events) tasks.push_back(e->GetTask());
  EXPECT_EQ(tasks, (std::vector<std::string>{"3", "5", "6", "8", "9", "12"}));
  ASSERT_EQ(events.size(), 6u);
  for (const auto& e : events) EXPECT_EQ(e->GetSourceFile(), data_.data_file());

  EXPECT_EQ(events[0]->GetFrequency(), schedule::Daily);
  EXPECT_EQ(events[0]->GetNextTime(), 1807698000 + (12 * 60 + 45) * 60);

  EXPECT_EQ(events[1]->GetFrequency(), schedule::OneTime);
  EXPECT_EQ(events[1]->GetNextTime(), 1809216000 + 7 * 3600);  // 2027-05-02 07:00

  EXPECT_EQ(events[2]->GetFrequency(), schedule::Weekly);
  // Next Tuesday, 2027-04-20 08:30.
  EXPECT_EQ(events[2]->GetNextTime(),
            1807698000 - 10 * 3600 - 20 * 60 + 6 * 86400 + 8 * 3600 + 30 * 60);

  // A minute far past what a time value holds gives -1, never a crash.
  EXPECT_EQ(events[3]->GetFrequency(), schedule::Yearly);
  EXPECT_EQ(events[3]->GetNextTime(), -1);
  EXPECT_EQ(events[4]->GetFrequency(), schedule::Irregular);
  // "9am" reads 9, and hour -1 stands for the current hour: 9 April 10:45.
  EXPECT_EQ(events[5]->GetFrequency(), schedule::Monthly);
  EXPECT_EQ(events[5]->GetNextTime(), 1807267500);
}

TEST_F(ScheduleConfigTest, DayAndMonthNames) {
  // Full names in any case; "tuesday" and "May" are read in the profiles above.
  EXPECT_EQ(ScheduleConfig::DayNumberFromName("SATURDAY"), 7);
  EXPECT_EQ(ScheduleConfig::MonthNumberFromName("december"), 12);
  for (const char* no : {"Sun", "Jan", " Monday", "", "Monday ", "Sept"}) {
    EXPECT_EQ(ScheduleConfig::DayNumberFromName(no), 1) << no;
    EXPECT_EQ(ScheduleConfig::MonthNumberFromName(no), 1) << no;
  }
}

constexpr char kSlots[] =
    "[EventCat2 List]\r\nNumber of Cat2 Events=3\r\nCat2:1=Alpha\r\n"
    "Cat2:2=beta\r\nCat2:3=Beta\r\nCat2:4=Unused\r\n"
    "[Scheduler Profiles]\r\nNumber of Profiles=5\r\n"
    "[Scheduler Profile 4]\r\nName=BETA\r\nState=delete\r\nFrequency=Daily\r\n"
    "[Scheduler Profile 5]\r\nName=Gamma\r\nState=Delete\r\n"
    "[Scheduler Profile 6]\r\nName=Alpha\r\nState=Active\r\n"
    "[Event Cat2:2]\r\nDescription=d\r\nEvent Mode=m\r\nEvent Status=False\r\n"
    "Number of Responses=3\r\n1=r1\r\n2=r2\r\n3=r3\r\n";

// The release's command sequence is followed through the passes and end to
// end; here which slot it picks, what it leaves in the file and where it stops.
TEST_F(ScheduleConfigTest, ReleaseOfADeletedProfile) {
  data_.Write(kSlots);
  ScheduleConfig config(nullptr);
  config.ReleaseDeletedProfile("6");  // Active: left alone
  config.ReleaseDeletedProfile("5");  // name in no slot
  config.ReleaseDeletedProfile("7");  // no profile at all
  EXPECT_TRUE(data_.Commands().empty());
  EXPECT_EQ(data_.Read(), kSlots);

  // A count of 1 sends and writes 0; a count of 0 skips the record reset and
  // the list entry, while the profile list still runs on its own count.
  data_.Write(
      "[EventCat2 List]\nNumber of Cat2 Events=1\nCat2:1=One\n"
      "[Scheduler Profiles]\nNumber of Profiles=0\n"
      "[Scheduler Profile 1]\nName=one\nState=Delete\n");
  ScheduleConfig one(nullptr);
  one.ReleaseCat2ListEntry(1);
  one.ReleaseProfileListEntry(1);
  EXPECT_EQ(data_.Commands(), (std::vector<std::string>{dmi::Cat2ListEntryUnusedCommand(1),
                                                        dmi::Cat2ListCountCommand(0),
                                                        dmi::Cat2ListLastEventClearCommand()}));
  EXPECT_NE(data_.Read().find("Number of Cat2 Events=0\n"), std::string::npos);
  one.ReleaseDeletedProfile("1");
  // Count now 0 in the file: only the profile list would run, and its count is 0.
  EXPECT_EQ(data_.Commands().size(), 3u);

  data_.Write(kSlots);
  ScheduleConfig(nullptr).ReleaseDeletedProfile("4");
  // "BETA" is slot 2, the lower of the two case-blind matches.
  EXPECT_EQ(data_.Commands().at(3), dmi::Cat2ResponseCountCommand(2, 0));
  const std::string file = data_.Read();
  EXPECT_NE(file.find("Number of Cat2 Events=2\r\n"), std::string::npos);
  EXPECT_NE(file.find("Number of Profiles=4\r\n"), std::string::npos);
  // The record gains "User Changable"; the other record keys stay untouched.
  EXPECT_NE(file.find("[Event Cat2:2]\r\nDescription=d\r\nEvent Mode=m\r\n"
                      "Event Status=False\r\nNumber of Responses=3\r\n1=r1\r\n"
                      "2=r2\r\n3=r3\r\nUser Changable=\r\n"),
            std::string::npos);
  // The list entries themselves are left for the editing program.
  EXPECT_NE(file.find("Cat2:2=beta\r\n"), std::string::npos);
}

TEST_F(ScheduleConfigTest, FiredEventOfANameInNoSlotIsNotMarked) {
  // The marks of a found slot are followed through the engine and end to end.
  data_.Write(kSlots);
  ScheduleConfig config(nullptr);
  ScheduleEvent stray;
  stray.SetDaily("5", 9, 0);  // profile 5 is named Gamma
  config.MarkCat2Fired(stray);
  // No write, no command, not even the synch trigger.
  EXPECT_TRUE(data_.Commands().empty());
  EXPECT_EQ(data_.Read(), kSlots);
  // An empty name matches the first empty or missing list entry.
  EXPECT_EQ(config.FindCat2Number(""), 5);
}

TEST_F(ScheduleConfigTest, Cat2RecordAlwaysHoldsTwelveResponses) {
  data_.Write(kSlots);
  Cat2Event record;
  record.Load(2);
  EXPECT_EQ(record.GetNumber(), 2);
  EXPECT_EQ(record.GetResponseCount(), 3);
  EXPECT_EQ(record.GetDescription(), "d");
  ASSERT_EQ(record.GetResponses().size(), 12u);
  EXPECT_EQ(record.GetResponses()[2], "r3");
  EXPECT_EQ(record.GetResponses()[3], "");
  // Texts are seen through an 80-byte buffer.
  data_.Write("[Event Cat2:1]\nDescription=" + std::string(79, 'x') +
              "\nEvent Mode=" + std::string(200, 'y') + "\n");
  Cat2Event longer;
  longer.Load(1);
  EXPECT_EQ(longer.GetDescription(), std::string(79, 'x'));
  EXPECT_EQ(longer.GetEventMode(), std::string(79, 'y'));
}

}  // namespace
}  // namespace config
