// The agent editor's half of the data-file protocol, against the service's
// own reload pass: where a profile goes, what is refused, the counts, what
// each state becomes after the pass, and writers that come in between.
#include "profile_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/profile_access.h"
#include "config/synchronisation_passes.h"
#include "dmi/dmi_commands.h"
#include "support/engine_fixture.h"

namespace tools {
namespace {

using config::ScheduleConfig;

constexpr char kHead[] =
    "[TARN Event Categories]\nNumber of Categories=2\nEventCat1=System\nEventCat2=User Alarms\n";

// A daily profile at `hour` named `name` in `slot`, in state `state`.
std::string Daily(int slot, const std::string& name, const std::string& state, int hour = 12) {
  return "[Scheduler Profile " + std::to_string(slot) + "]\nName=" + name +
         "\nFrequency=Daily\nHour=" + std::to_string(hour) + "\nMinute=0\nState=" + state + "\n";
}

// The list with `names` in slots 1.. and every other slot "Unused".
std::string List(int count, const std::vector<std::string>& names) {
  std::string f = std::string(kHead) +
                  "[EventCat2 List]\nNumber of Cat2 Events=" + std::to_string(count) +
                  "\nChanged=False\n";
  for (int slot = 1; slot <= config::kSlotCount; ++slot) {
    const size_t i = static_cast<size_t>(slot - 1);
    f += "Cat2:" + std::to_string(slot) + "=" + (i < names.size() ? names[i] : "Unused") + "\n";
  }
  return f + "[Scheduler Profiles]\nNumber of Profiles=" + std::to_string(count) + "\n";
}

// A profile of `frequency` on a day at `time` ("HH:MM"), of 2027 if it happens once.
ProfileFields Dated(const std::string& frequency, const char* month, const char* day,
                    const std::string& time) {
  ProfileFields f{{"Frequency", frequency},
                  {"Month", month},
                  {"DayOfMonth", day},
                  {"Hour", time.substr(0, 2)},
                  {"Minute", time.substr(3)}};
  if (frequency == "One Time") f["Year"] = "2027";
  return f;
}

// "User Alarms" listed as category 1.
std::string Swapped(std::string file) {
  const std::string order = "EventCat1=System\nEventCat2=User Alarms\n";
  return file.replace(file.find(order), order.size(), "EventCat1=User Alarms\nEventCat2=System\n");
}

class ProfileEditorTest : public testsupport::EngineTest {
 protected:
  ProfileEditorTest() : EngineTest("editor") {}

  std::string Read(const std::string& section, const std::string& key) {
    return config::ReadProfileText(data_.data_file(), section, key);
  }
  std::string State(int slot) { return Read("Scheduler Profile " + std::to_string(slot), "State"); }
  std::string Counts() {
    return Read("EventCat2 List", "Number of Cat2 Events") + "/" +
           Read("Scheduler Profiles", "Number of Profiles") + " " +
           Read("EventCat2 List", "Changed");
  }

  std::optional<Refusal> Begin(const EditRequest* request, const std::set<std::string>* queued) {
    std::optional<Refusal> refusal;
    std::string error;
    EXPECT_TRUE(WriteFirstHalf(data_.data_file(), request, queued, &refusal, &error)) << error;
    ScheduleConfig written(nullptr, data_.data_file());
    handled_ = HandledByPass(written);
    return refusal;
  }
  void Reload() {
    ASSERT_TRUE(time_->Run([this] {
      ScheduleConfig snapshot(host_.get());
      config::ReloadPass(snapshot);
    }));
  }
  void Finish() {
    std::string error;
    EXPECT_TRUE(WriteSecondHalf(data_.data_file(), handled_, &touched_, &error)) << error;
  }
  // A whole transaction, with the service's pass between the halves.
  void Transaction(const EditRequest& request, const std::set<std::string>* queued = nullptr) {
    ASSERT_EQ(Begin(&request, queued), std::nullopt);
    Reload();
    Finish();
  }
  std::set<std::string> Queued() {
    std::set<std::string> tasks;
    for (const auto& e : host_->QueuedEvents()) tasks.insert(e->GetTask());
    return tasks;
  }

  std::map<int, Handled> handled_;
  std::set<int> touched_;
};

TEST_F(ProfileEditorTest, AddTakesTheLowestFreeSlotWithAFreshRecord) {
  // Slot 2 empty and slot 3 missing count as in use; 4 is the first free.
  std::string file = List(9, {"Alpha", "", "Unused", "UNUSED", "!unused!"});
  file.erase(file.find("Cat2:3=Unused\n"), 14);
  data_.Write(file + Daily(1, "Alpha", "Active") +
              "[Scheduler Profile 4]\nName=Old\nDayOfWeek=Monday\n[Event Cat2:4]\n3=Old reply\n");
  ScheduleConfig before(nullptr, data_.data_file());
  EXPECT_EQ(FreeSlot(before), 4);
  EXPECT_EQ(SlotsInUse(before), 3);

  const EditRequest add{
      EditKind::kAdd, "Beta", {{"Frequency", "daily"}, {"Hour", "09"}, {"Minute", "30"}}};
  ASSERT_EQ(Begin(&add, nullptr), std::nullopt);
  // Counted with the new slot, so the pass's walk reaches it.
  EXPECT_EQ(Counts(), "4/4 True");
  Reload();
  Finish();
  EXPECT_EQ(Queued(), (std::set<std::string>{"4"}));
  EXPECT_EQ(Read("EventCat2 List", "Cat2:4"), "Beta");
  EXPECT_EQ(Read("Scheduler Profiles", "Profile 4"), "Beta");
  EXPECT_EQ(State(4), "Active");
  EXPECT_EQ(Counts(), "4/4 False");
  const std::string text = data_.Read();
  EXPECT_NE(text.find("[Scheduler Profile 4]\nName=Beta\nFrequency=Daily\nHour=9\nMinute=30\n"
                      "State=Active\n[Event Cat2:4]\nDescription=Beta\nEvent Mode=Scheduled\n"
                      "Event Status=False\nUser Changable=True\nNumber of Responses=0\n1=Unused\n"),
            std::string::npos)
      << text;
  // What the slot's earlier profile left is gone.
  EXPECT_EQ(text.find("Old"), std::string::npos);
  // The DMI side of what the editor wrote; the state rows are the service's.
  EXPECT_EQ(touched_, (std::set<int>{4}));
  EXPECT_EQ(MirrorCommands(ScheduleConfig(nullptr, data_.data_file()), touched_),
            (std::vector<std::string>{
                dmi::ProfileTableTextCommand(4, dmi::kProfileNameAttribute, "Beta"),
                dmi::ProfileTableTextCommand(4, dmi::kProfileFrequencyAttribute, "Daily"),
                dmi::ProfileTableTextCommand(4, dmi::kProfileHourAttribute, "9"),
                dmi::ProfileTableTextCommand(4, dmi::kProfileMinuteAttribute, "30"),
                dmi::ProfileTableTextCommand(4, dmi::kProfileDayAttribute, "0"),
                dmi::ProfileListEntryCommand(4, "Beta"), dmi::Cat2ListEntryCommand(4, "Beta"),
                dmi::Cat2NameCommand(4, "Beta"), dmi::Cat2ListCountCommand(4),
                dmi::ProfileCountCommand(4)}));
}

TEST_F(ProfileEditorTest, RefusalsNameTheFieldAndLeaveTheFileAlone) {
  std::vector<std::string> full;
  for (int slot = 1; slot <= config::kSlotCount; ++slot) full.push_back("P" + std::to_string(slot));
  struct Case {
    std::string file;
    EditRequest request;
    std::string field;
  };
  const std::string file =
      List(2, {"Alpha", "Gone"}) + Daily(1, "Alpha", "Active") + Daily(2, "Gone", "Delete");
  auto add = [](ProfileFields f) { return EditRequest{EditKind::kAdd, "New", std::move(f)}; };
  const ProfileFields daily = {{"Frequency", "Daily"}, {"Hour", "9"}, {"Minute", "0"}};
  const Case cases[] = {
      {file, {EditKind::kAdd, "ALPHA", daily}, "Name"},
      {file, {EditKind::kAdd, " Gamma", daily}, "Name"},
      {file, {EditKind::kAdd, "unused", daily}, "Name"},
      {file, {EditKind::kAdd, "say \"hi\"", daily}, "Name"},
      {file, {EditKind::kAdd, std::string(80, 'n'), daily}, "Name"},
      {List(12, full), add(daily), "EventCat2 List"},
      {file, add({{"Frequency", "Fortnightly"}}), "Frequency"},
      {file, add({{"Frequency", "Daily"}, {"Hour", "24"}, {"Minute", "0"}}), "Hour"},
      {file, add({{"Frequency", "Daily"}, {"Hour", "9x"}, {"Minute", "0"}}), "Hour"},
      {file, add({{"Frequency", "Daily"}, {"Hour", "'9'"}, {"Minute", "0"}}), "Hour"},
      {file, add({{"Frequency", "Daily"}, {"Minute", "0"}}), "Hour"},
      {file, add({{"Frequency", "Hourly"}, {"Hour", "9"}, {"Minute", "0"}}), "Hour"},
      {file, add({{"Frequency", "Hourly"}, {"Minute", "-1"}}), "Minute"},
      {file, add({{"Frequency", "Weekly"}, {"DayOfWeek", "Tues"}, {"Hour", "9"}, {"Minute", "0"}}),
       "DayOfWeek"},
      {file, add(Dated("Yearly", "Sept", "1", "09:00")), "Month"},
      {file, add(Dated("Yearly", "April", "31", "09:00")), "DayOfMonth"},
      // Now is 2027-04-14 10:20 UTC.
      {file, add(Dated("One Time", "April", "14", "10:19")), "Year/Month/DayOfMonth/Hour/Minute"},
      {Swapped(List(2, {"Alpha"})), add(daily), "TARN Event Categories EventCat2"},
      {file, {EditKind::kChange, "Beta", {{"Hour", "8"}}}, "Name"},
      {file, {EditKind::kChange, "Alpha", {}}, "FIELD=VALUE"},
      {file, {EditKind::kChange, "Alpha", {{"Month", "May"}}}, "Month"},
      {file, {EditKind::kDelete, "Gone", {}}, "Scheduler Profile 2 State"},
  };
  for (const Case& c : cases) {
    data_.Write(c.file);
    const std::optional<Refusal> refusal = Begin(&c.request, nullptr);
    ASSERT_TRUE(refusal.has_value()) << c.field;
    EXPECT_EQ(refusal->field, c.field) << refusal->rule;
    EXPECT_FALSE(refusal->rule.empty());
    EXPECT_EQ(data_.Read(), c.file) << c.field;
  }
  // A path that names no file, or a folder, fails with the reason.
  const std::string folder = data_.data_file().substr(0, data_.data_file().rfind('\\'));
  for (const std::string& path : {data_.data_file() + ".none", folder}) {
    std::string error;
    EXPECT_FALSE(UpdateProfileFile(
        path, [](ScheduleConfig&, std::vector<KeyWrite>*) { return true; }, &error));
    EXPECT_NE(error.find(path == folder ? ": not a regular file" : ": no such file"),
              std::string::npos)
        << error;
  }
}

TEST_F(ProfileEditorTest, EachStateBecomesWhatThePassMadeOfIt) {
  data_.Write(List(2, {"Alpha", "Beta"}) + Daily(1, "Alpha", "Add", 11) +
              Daily(2, "Beta", "Add", 12));
  Transaction({EditKind::kChange, "Alpha", {{"Hour", "13"}}});
  EXPECT_EQ(State(1), "Active");
  EXPECT_EQ(State(2), "Active");  // the pending add, finished on the way
  EXPECT_EQ(host_->FindEventByTask("1")->GetNextTime(), testsupport::kAgentStart + 2 * 3600 + 2400);

  // The service decrements the counts on its release; the editor frees the
  // entries and recounts.
  Transaction({EditKind::kDelete, "Alpha", {}});
  EXPECT_EQ(touched_, (std::set<int>{1}));
  EXPECT_EQ(Queued(), (std::set<std::string>{"2"}));
  EXPECT_EQ(Read("EventCat2 List", "Cat2:1"), "Unused");
  EXPECT_EQ(Read("Scheduler Profiles", "Profile 1"), "Unused");
  EXPECT_EQ(Counts(), "1/1 False");
  // The freed slot is the next one taken.
  Transaction({EditKind::kAdd, "Gamma", {{"Frequency", "Hourly"}, {"Minute", "5"}}});
  EXPECT_EQ(Read("EventCat2 List", "Cat2:1"), "Gamma");
  EXPECT_EQ(Counts(), "2/2 False");
}

TEST_F(ProfileEditorTest, RecountRepairsAReleaseRunTwiceAndRequeuesWhatFellOut) {
  // A release ran twice: the counts fell to 0 and the walk lost both slots.
  data_.Write(List(0, {"Alpha", "Beta"}) + Daily(1, "Alpha", "Active") +
              Daily(2, "Beta", "Active"));
  const std::set<std::string> none;
  ScheduleConfig snapshot(nullptr, data_.data_file());
  EXPECT_TRUE(NeedsPass(snapshot, &none));
  EXPECT_FALSE(NeedsPass(snapshot, nullptr));
  ASSERT_EQ(Begin(nullptr, &none), std::nullopt);
  EXPECT_EQ(State(1), "Update");
  EXPECT_EQ(Counts(), "2/2 True");
  Reload();
  Finish();
  EXPECT_EQ(Queued(), (std::set<std::string>{"1", "2"}));
  EXPECT_EQ(State(1) + State(2), "ActiveActive");
  EXPECT_EQ(Counts(), "2/2 False");
  const std::set<std::string> queued = Queued();
  EXPECT_FALSE(NeedsPass(ScheduleConfig(nullptr, data_.data_file()), &queued));
}

TEST_F(ProfileEditorTest, WritersInBetweenLoseNothing) {
  data_.Write(List(1, {"Alpha"}) + Daily(1, "Alpha", "Active"));
  // A firing writes between the editor's read and its update: the update
  // starts over on the new file and keeps the firing's write.
  int attempts = 0;
  std::string error;
  ASSERT_TRUE(UpdateProfileFile(
      data_.data_file(),
      [&](ScheduleConfig&, std::vector<KeyWrite>* writes) {
        if (attempts++ == 0) {
          config::WriteProfileText(data_.data_file(), "Event Cat2:1", "Event Status", "True");
        }
        *writes = {{"Scheduler Profile 1", "Hour", "8"}};
        return true;
      },
      &error))
      << error;
  EXPECT_EQ(attempts, 2);
  EXPECT_EQ(Read("Event Cat2:1", "Event Status") + Read("Scheduler Profile 1", "Hour"), "True8");

  // A one-time firing marks the added profile deleted after the pass: the
  // editor leaves "Delete" for the next pass rather than write "Active".
  const EditRequest add{EditKind::kAdd, "Once", Dated("One Time", "April", "14", "11:00")};
  ASSERT_EQ(Begin(&add, nullptr), std::nullopt);
  Reload();
  config::WriteProfileText(data_.data_file(), "Scheduler Profile 2", "State", "Delete");
  // A second editor adds between the two halves: its "Add" stays for its
  // own pass, and so does the change mark.
  const EditRequest other{EditKind::kAdd, "Other", {{"Frequency", "Hourly"}, {"Minute", "1"}}};
  std::optional<Refusal> refusal;
  ASSERT_TRUE(WriteFirstHalf(data_.data_file(), &other, nullptr, &refusal, &error)) << error;
  Finish();
  EXPECT_EQ(State(2) + " " + State(3), "Delete Add");
  EXPECT_EQ(Counts(), "3/3 True");
  // The next transaction's pass releases the fired slot and queues the other.
  ASSERT_EQ(Begin(nullptr, nullptr), std::nullopt);
  Reload();
  Finish();
  EXPECT_EQ(Read("EventCat2 List", "Cat2:2"), "Unused");
  EXPECT_EQ(State(3), "Active");
  EXPECT_EQ(Counts(), "2/2 False");
}

}  // namespace
}  // namespace tools
