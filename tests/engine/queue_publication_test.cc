// The queue as schedexe-timers reads it: published on every change, in
// virtual time, with its due times agreeing with when the events really
// fire, and the last firing of each task.
#include "engine/queue_publication.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/profile_access.h"
#include "dmi/command_runner.h"
#include "platform/faults.h"
#include "platform/shared_snapshot.h"
#include "support/engine_fixture.h"
#include "support/scratch_dir.h"

namespace engine {
namespace {

using schedule::ScheduleEvent;
constexpr platform::TimeValue kStart = testsupport::kAgentStart;  // 10:20 UTC

class QueuePublicationTest : public testsupport::EngineTest {
 protected:
  QueuePublicationTest() : EngineTest("publication") {
    data_.Write(
        "[TARN Event Categories]\nNumber of Categories=2\nEventCat2=User Alarms\n"
        "[EventCat2 List]\nNumber of Cat2 Events=3\nCat2:1=A\nCat2:2=B\nCat2:3=C\n"
        "[Scheduler Profile 1]\nName=A\n[Scheduler Profile 2]\nName=B\n"
        "[Scheduler Profile 3]\nName=C\n");
  }

  bool Read(QueueSnapshot* s) {
    std::string bytes;
    uint32_t pid = 0;
    return platform::ReadSnapshot(name_, &bytes, &pid) == platform::SnapshotStatus::kOk &&
           ParseQueueSnapshot(bytes, s);
  }

  // The published queue as "task@due" in queue order, and the last firings.
  std::string Published(std::string* last = nullptr) {
    QueueSnapshot s;
    if (!Read(&s)) return "unreadable";
    std::string text;
    for (const PublishedEvent& e : s.queue) {
      text += e.task + "@" + std::to_string(e.due - kStart) + " ";
      // What the view shows as NEXT is the engine's own next firing.
      ScheduleEvent copy;
      copy.SetSchedule(e.task, -1, -1, -1, -1, -1, -1, e.frequency);
      copy.SetNextTime(e.due);
      const auto next = schedule::UpcomingFirings(copy, 1);
      if (next.empty() || next[0] != e.due) text += "(next differs) ";
    }
    if (last) {
      last->clear();
      for (const auto& [task, when] : s.last_fired)
        *last += task + "@" + std::to_string(when - kStart) + " ";
    }
    return text;
  }

  // Adds move virtual time on too (a wake may wait a second).
  bool RunUntil(platform::TimeValue t) { return time_->RunFor((int64_t{t} - clock_.Now()) * 1000); }

  const std::string name_ = testsupport::UniqueName("SchedExeQueue");
};

TEST_F(QueuePublicationTest, FollowsEveryChangeAndAgreesWithTheFirings) {
  // A scheduler still ending holds the name at the start; a pass publishes.
  auto ending = platform::SnapshotPublisher::Create(name_);
  ASSERT_NE(ending, nullptr);
  EXPECT_FALSE(host_->StartPublishing(name_));
  ending.reset();
  host_->BeginPass();
  host_->EndPass();
  EXPECT_EQ(Published(), "");
  ScheduleEvent daily, hourly, once;
  daily.SetDaily("2", 10, 30);
  hourly.SetHourly("1", 0);  // 10:00 has passed: moved on to 11:00 unrun
  once.SetOneTime("3", 2027, 4, 14, 10, 35);
  Add(daily);
  Add(hourly);
  Add(once);
  std::string last;
  EXPECT_EQ(Published(&last), "2@600 3@900 1@2400 ");
  EXPECT_EQ(last, "") << "an overdue event moved on unrun did not fire";

  // 10:30: slot 2 fires when its published due time says, and moves on a day.
  ASSERT_TRUE(RunUntil(kStart + 599));
  EXPECT_TRUE(data_.Activations().empty());
  ASSERT_TRUE(RunUntil(kStart + 605));
  EXPECT_EQ(data_.Activations(), std::vector<std::string>{"wactivate /category:2 /event:2"});
  EXPECT_EQ(Published(&last), "3@900 1@2400 2@87000 ");
  EXPECT_EQ(last, "2@600 ");

  // 10:35: the one-time event fires and leaves the queue.
  ASSERT_TRUE(RunUntil(kStart + 905));
  EXPECT_EQ(data_.Activations().size(), 2u);
  EXPECT_EQ(Published(&last), "1@2400 2@87000 ");
  EXPECT_EQ(last, "2@600 3@900 ");

  host_->RemoveEvent("1", false);
  EXPECT_EQ(Published(), "2@87000 ");
  // The name is this host's: nobody else may publish under it meanwhile.
  EXPECT_EQ(platform::SnapshotPublisher::Create(name_), nullptr);
}

TEST_F(QueuePublicationTest, AFaultIsPublishedWhileItLastsAndGoesWhenItsOperationWorksAgain) {
  for (auto kind : {platform::Fault::kRegistry, platform::Fault::kDataFileRead,
                    platform::Fault::kDataFileWrite, platform::Fault::kDmiCommand}) {
    platform::ClearFault(kind);  // what earlier tests of this process left
  }
  ASSERT_TRUE(host_->StartPublishing(name_));
  const auto faults = [this] {
    QueueSnapshot s;
    std::string all = Read(&s) ? "" : "unreadable";
    for (const std::string& f : s.faults) all += f + "|";
    return all;
  };
  // Published at once, with no change of the queue.
  config::WriteProfileText(data_.data_file() + "-gone\\tarn.dat", "Scheduler Profile 1", "State",
                           "Active");
  env_.start_result = false;
  dmi::SetProfileRowDeleted(2);
  const std::string both = faults();
  EXPECT_EQ(both.find("cannot write data file "), 0u) << both;
  EXPECT_NE(both.find("-gone"), std::string::npos) << both;
  EXPECT_NE(both.find("|cannot start DmiSetValue: "), std::string::npos) << both;
  env_.start_result = true;
  dmi::SetProfileRowDeleted(2);
  EXPECT_EQ(faults().find("DmiSetValue"), std::string::npos);
  config::WriteProfileText(data_.data_file(), "Scheduler Profile 1", "State", "Active");
  EXPECT_EQ(faults(), "");
}

TEST(QueueSnapshotTextTest, RoundTripsAndRefusesWhatIsNoSnapshot) {
  QueueSnapshot s{
      100, "C:\\agent\tdata", {{"1", 2, 1, 5000}, {"x y", 4, 2, -1}}, {{"1", 4000}}, true, 7, {}};
  s.faults = {"a\tb", "c"};
  QueueSnapshot back;
  ASSERT_TRUE(ParseQueueSnapshot(FormatQueueSnapshot(s), &back));
  EXPECT_EQ(EndedPasses(back), 6u);
  EXPECT_EQ(back.published, 100);
  EXPECT_EQ(back.data_file, "C:\\agent data") << "a tab would split the line";
  ASSERT_EQ(back.queue.size(), 2u);
  EXPECT_EQ(back.queue[1].task, "x y");
  EXPECT_EQ(back.queue[1].frequency, 4);
  EXPECT_EQ(back.queue[1].state, 2);
  EXPECT_EQ(back.queue[1].due, -1);
  EXPECT_EQ(back.faults, (std::vector<std::string>{"a b", "c"}));
  for (const char* bad : {"published\tx\n", "event\t1\t2\t3\n", "event\t1\t2\t3\t4\t5\n", "bogus\n",
                          "published\t1", "passing\t1\n", "passes\t-1\n", "passes\n", "last\t1\t\n",
                          "last\t1\t99999999999\n", "fault\n"}) {
    EXPECT_FALSE(ParseQueueSnapshot(bad, &back)) << bad;
  }
}

}  // namespace
}  // namespace engine
