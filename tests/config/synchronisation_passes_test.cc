// The initial and reload passes against a real engine: what reaches the live
// queue, the data file and DMI, in order, and when the dispatcher is woken.
#include "config/synchronisation_passes.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "config/schedule_config.h"
#include "dmi/agent_client_directory.h"
#include "dmi/dmi_commands.h"
#include "support/engine_fixture.h"
#include "support/log_capture.h"

namespace config {
namespace {

constexpr platform::TimeValue kMidnight = testsupport::kAgentStart - (10 * 3600 + 20 * 60);

platform::TimeValue Today(int hour) { return kMidnight + hour * 3600; }

struct Profile {
  int slot;
  std::string state;
  int hour;
};

// A data file with the user-alarm list naming each profile's slot ("P" and
// the slot) and every other slot unused.
std::string DataFile(int cat2Count, const std::string& changed,
                     const std::vector<Profile>& profiles, int profileCount = 0) {
  std::string f =
      "[TARN Event Categories]\nNumber of Categories=2\nEventCat1=System\n"
      "EventCat2=User Alarms\n[EventCat2 List]\nNumber of Cat2 Events=" +
      std::to_string(cat2Count) + "\n";
  if (!changed.empty()) f += "Changed=" + changed + "\n";
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    std::string entry = "Unused";
    for (const Profile& p : profiles) {
      if (p.slot == slot) entry = "P" + std::to_string(slot);
    }
    f += "Cat2:" + std::to_string(slot) + "=" + entry + "\n";
  }
  f += "[Scheduler Profiles]\nNumber of Profiles=" + std::to_string(profileCount) + "\n";
  for (const Profile& p : profiles) {
    f += "[Scheduler Profile " + std::to_string(p.slot) + "]\nName=P" + std::to_string(p.slot) +
         "\nFrequency=Daily\nHour=" + std::to_string(p.hour) + "\nMinute=0\n";
    if (!p.state.empty()) f += "State=" + p.state + "\n";
  }
  return f;
}

// What the release of slot n sends, with the two list counts it leaves.
std::vector<std::string> Release(int n, int cat2Left, int profilesLeft) {
  std::vector<std::string> c = {dmi::Cat2ResponseCountCommand(n, 0)};
  for (int k = 1; k <= 12; ++k) c.push_back(dmi::Cat2ResponseUnusedCommand(n, k));
  c.insert(c.end(), {dmi::Cat2ListEntryUnusedCommand(n), dmi::Cat2ListCountCommand(cat2Left),
                     dmi::Cat2ListLastEventClearCommand(), dmi::ProfileListEntryUnusedCommand(n),
                     dmi::ProfileCountCommand(profilesLeft), dmi::ProfileNameUnusedCommand(n),
                     dmi::ProfileStateUnusedCommand(n)});
  return c;
}

std::vector<std::string> Join(std::vector<std::vector<std::string>> parts) {
  std::vector<std::string> all;
  for (auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

const std::vector<std::string> kEnd = {dmi::Cat2ListUnchangedCommand(), dmi::kSynchCommand};
using Queued = std::vector<std::pair<std::string, platform::TimeValue>>;

class SynchronisationPassTest : public testsupport::EngineTest {
 protected:
  SynchronisationPassTest() : EngineTest("passes") {
    // Every DMI command reads the agent directory just before it starts: the
    // virtual time of that read is the time of the command.
    env_.on_registry_read = [this](const std::string&, const std::string& value) {
      if (value != dmi::kAgentPathValue) return;
      std::lock_guard<std::mutex> g(times_mutex_);
      command_times_.push_back(clock_.NowMs());
    };
  }

  // Writes the data file and runs one pass on a snapshot of it.
  void Pass(const std::string& file, void (*pass)(ScheduleConfig&)) {
    data_.Write(file);
    ASSERT_TRUE(time_->Run([this, pass] {
      ScheduleConfig snapshot(host_.get());
      pass(snapshot);
    }));
  }
  void Initial(const std::string& file) { Pass(file, config::InitialPass); }
  void Reload(const std::string& file) { Pass(file, config::ReloadPass); }

  int64_t CommandTime(size_t index) {
    std::lock_guard<std::mutex> g(times_mutex_);
    return command_times_.at(index);
  }
  // Commands [from, from + n) all went out at one instant.
  void ExpectOneInstant(size_t from, size_t n) {
    for (size_t i = 1; i < n; ++i) {
      EXPECT_EQ(CommandTime(from + i), CommandTime(from)) << from + i;
    }
  }

  // The queued tasks in queue order, with their due times.
  Queued Queue() {
    Queued q;
    for (const auto& e : host_->QueuedEvents()) q.emplace_back(e->GetTask(), e->GetNextTime());
    return q;
  }

  std::mutex times_mutex_;
  std::vector<int64_t> command_times_;
};

TEST_F(SynchronisationPassTest, InitialPassQueuesActiveAddedAndUpdatedProfiles) {
  Initial(DataFile(4, "", {{1, "Active", 12}, {2, "add", 11}, {3, "", 13}, {4, "Update", 14}}));
  // In due-time order; the profile with no state is neither queued nor
  // reported, and the update of a task not queued simply queues it.
  EXPECT_EQ(Queue(), (Queued{{"2", Today(11)}, {"1", Today(12)}, {"4", Today(14)}}));
  EXPECT_EQ(NewCommands(),
            Join({{dmi::ProfileActiveCommand(2), dmi::ProfileActiveCommand(4)}, kEnd}));
  // "Active" is reported to DMI only; the file keeps the editor's words.
  const std::string file = data_.Read();
  EXPECT_NE(file.find("Name=P2\nFrequency=Daily\nHour=11\nMinute=0\nState=add\n"),
            std::string::npos);
  EXPECT_NE(file.find("State=Update\n"), std::string::npos);
}

TEST_F(SynchronisationPassTest, WalkVisitsNoMoreThanTheListCount) {
  // Three events loaded (slots 1, 2, 5), count 2: slot 5 is not visited.
  Initial(DataFile(2, "True", {{1, "Add", 11}, {2, "Add", 12}, {5, "Add", 13}}));
  EXPECT_EQ(Queue(), (Queued{{"1", Today(11)}, {"2", Today(12)}}));
  EXPECT_EQ(NewCommands(),
            Join({{dmi::ProfileActiveCommand(1), dmi::ProfileActiveCommand(2)}, kEnd}));

  // Count 5 with three events: all three visited, then the walk ends. Adding
  // a task queued already leaves it as it was (11:00, not 16:00), and is
  // reported all the same.
  Reload(DataFile(5, "True", {{1, "Add", 16}, {2, "Add", 12}, {5, "Add", 13}}));
  EXPECT_EQ(Queue(), (Queued{{"1", Today(11)}, {"2", Today(12)}, {"5", Today(13)}}));
  EXPECT_EQ(NewCommands(), Join({{dmi::ProfileActiveCommand(1), dmi::ProfileActiveCommand(2),
                                  dmi::ProfileActiveCommand(5)},
                                 kEnd}));

  // An empty or negative count visits nothing.
  for (int count : {0, -3}) {
    Reload(DataFile(count, "True", {{7, "Add", 15}}));
    EXPECT_EQ(Queue().size(), 3u);
    EXPECT_EQ(NewCommands(), kEnd);
  }
}

TEST_F(SynchronisationPassTest, ReloadActsOnlyOnAChangedListAndRequeuesUpdates) {
  Initial(DataFile(2, "", {{1, "Active", 12}}));
  EXPECT_EQ(NewCommands(), kEnd);
  host_->SetDataFile("elsewhere\\tarn.dat");

  // Not marked changed: only the synch trigger; nothing is looked at, the
  // host keeps its path.
  Reload(DataFile(2, "False", {{1, "Delete", 12}, {2, "Add", 11}}));
  EXPECT_EQ(NewCommands(), std::vector<std::string>{dmi::kSynchCommand});
  EXPECT_EQ(Queue(), (Queued{{"1", Today(12)}}));
  EXPECT_EQ(host_->GetDataFile(), "elsewhere\\tarn.dat");

  // Changed, every profile active: queued events stay, nothing new is
  // queued (active ones are taken as queued already).
  Reload(DataFile(2, "TRUE", {{1, "Active", 12}, {2, "Active", 11}}));
  EXPECT_EQ(NewCommands(), kEnd);
  EXPECT_EQ(Queue(), (Queued{{"1", Today(12)}}));
  EXPECT_EQ(host_->GetDataFile(), data_.data_file());

  // An update takes the event out and queues it afresh, at every pass that
  // handles changes, with the due time computed anew.
  for (int hour : {15, 16}) {
    Reload(DataFile(2, "True", {{1, "Update", hour}}));
    EXPECT_EQ(Queue(), (Queued{{"1", Today(hour)}})) << hour;
    EXPECT_EQ(NewCommands(), Join({{dmi::ProfileActiveCommand(1)}, kEnd})) << hour;
  }
}

TEST_F(SynchronisationPassTest, DeleteReleasesTheSlotAndWakesOnlyOnReload) {
  Initial(DataFile(2, "True", {{1, "Active", 12}, {3, "Delete", 13}}, 2));
  EXPECT_EQ(Queue(), (Queued{{"1", Today(12)}}));
  EXPECT_EQ(NewCommands(), Join({{dmi::ProfileDeleteCommand(4)}, Release(3, 1, 1), kEnd}));
  EXPECT_NE(data_.Read().find("[Scheduler Profile 3]\nName=P3\nFrequency=Daily\n"
                              "Hour=13\nMinute=0\nState=Delete\n"),
            std::string::npos);
  // No wake after the deletion: every command of the pass, from the
  // deletion on, went out at the same instant.
  const size_t initial_commands = 1 + Release(3, 1, 1).size() + kEnd.size();
  ExpectOneInstant(0, initial_commands);

  // The editor has not made slot 3 unused yet, so the reload handles it once
  // more, releasing it again; slot 1 is deleted and leaves the queue. Each
  // release takes one off the counts it finds.
  Reload(DataFile(2, "True", {{1, "Delete", 12}, {3, "Delete", 13}}, 2));
  EXPECT_TRUE(Queue().empty());
  const std::vector<std::string> first = Join({{dmi::ProfileDeleteCommand(2)}, Release(1, 1, 1)});
  const std::vector<std::string> second = Join({{dmi::ProfileDeleteCommand(4)}, Release(3, 0, 0)});
  EXPECT_EQ(NewCommands(), Join({first, second, kEnd}));
  const std::string file = data_.Read();
  EXPECT_NE(file.find("Number of Cat2 Events=0\n"), std::string::npos);
  EXPECT_NE(file.find("Number of Profiles=0\n"), std::string::npos);
  // Each deletion wakes the dispatcher after its release: the next command
  // goes out one wake (a second of waiting) later.
  const size_t start = initial_commands;
  const size_t second_start = start + first.size();
  ExpectOneInstant(start, first.size());
  ExpectOneInstant(second_start, second.size());
  EXPECT_EQ(CommandTime(second_start), CommandTime(start) + 1000);
  EXPECT_EQ(CommandTime(second_start + second.size()), CommandTime(second_start) + 1000);
}

TEST_F(SynchronisationPassTest, PassesLogWhatTheyLeaveOutAndWhatTheyDid) {
  testsupport::LogCapture log;
  // Slot 2's state is no word the pass knows, slot 3's frequency none the
  // loader knows, slot 4 lies beyond the count of 2, and slot 5 has a profile
  // though its list entry is free.
  std::string file =
      DataFile(2, "", {{1, "Add", 11}, {2, "Bogus", 12}, {3, "Add", 13}, {4, "Add", 14}});
  file.replace(file.find("Frequency=Daily\nHour=13"), 15, "Frequency=Often");
  file += "[Scheduler Profile 5]\nFrequency=Daily\n";
  Initial(file);
  using platform::LogLevel;
  EXPECT_EQ(log.Count(LogLevel::kWarning, {"slot 2 ", "\"Bogus\""}), 1);
  EXPECT_EQ(log.Count(LogLevel::kWarning, {"slot 3 ", "\"Often\""}), 1);
  EXPECT_EQ(log.Count(LogLevel::kWarning, {"slot 4 ", "Number of Cat2 Events"}), 1);
  EXPECT_EQ(log.Count(LogLevel::kWarning, {"slot 5 ", "\"Unused\""}), 1);
  EXPECT_EQ(log.Count(LogLevel::kWarning, {"slot "}), 4);
  EXPECT_EQ(log.Count(LogLevel::kNotice, {"initial pass", "1 queued, 0 updated, 0 deleted"}), 1);

  // A reload of a list not marked changed says so and does nothing more.
  Reload(file);
  EXPECT_EQ(log.Count(LogLevel::kNotice, {"reload", "not marked"}), 1);
  Reload(DataFile(2, "True", {{1, "Update", 11}, {2, "Delete", 12}}));
  EXPECT_EQ(log.Count(LogLevel::kNotice, {"reload", "0 queued, 1 updated, 1 deleted"}), 1);
}

}  // namespace
}  // namespace config
