#include "engine/scheduler_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "dmi/dmi_commands.h"
#include "engine/event_timer.h"
#include "support/engine_fixture.h"

namespace engine {
namespace {

using schedule::ScheduleEvent;

constexpr platform::TimeValue kStart = testsupport::kAgentStart;

class SchedulerHostTest : public testsupport::EngineTest {
 protected:
  SchedulerHostTest() : EngineTest("engine") {
    data_.Write(
        "[TARN Event Categories]\nNumber of Categories=2\nEventCat2=User Alarms\n"
        "[EventCat2 List]\nNumber of Cat2 Events=3\nCat2:1=Alpha\nCat2:2=Beta\n"
        "Cat2:3=Gamma\n"
        "[Scheduler Profile 1]\nName=Gamma\n[Scheduler Profile 2]\nName=beta\n"
        "[Scheduler Profile 3]\nName=Nobody\n");
  }

  static ScheduleEvent Daily(const std::string& task, int hour, int minute) {
    ScheduleEvent e;
    e.SetDaily(task, hour, minute);
    return e;
  }

  std::vector<platform::TimeValue> DueTimes() {
    std::vector<platform::TimeValue> times;
    for (size_t i = 0; i < host_->QueueLength(); ++i) {
      times.push_back(queue_.events()[i]->GetNextTime());
    }
    return times;
  }
};

TEST_F(SchedulerHostTest, QueueKeepsDueOrderAndOneEventPerTask) {
  Add(Daily("1", 12, 0));
  Add(Daily("2", 11, 0));
  Add(Daily("3", 12, 0));  // same time as "1": goes after it
  Add(Daily("1", 9, 0));   // task queued already: refused
  ScheduleEvent irregular;
  irregular.SetIrregular("4");
  Add(irregular);  // never runs, so never queued
  Add(Daily("a", 13, 0));
  Add(Daily("A", 13, 0));  // tasks compare exactly
  std::vector<std::string> tasks;
  for (const auto& e : queue_.events()) tasks.push_back(e->GetTask());
  EXPECT_EQ(tasks, (std::vector<std::string>{"2", "1", "3", "a", "A"}));
  EXPECT_EQ(host_->FindEventIndex("3"), 2);
  EXPECT_EQ(host_->FindEventIndex("x"), -1);
  EXPECT_EQ(host_->FirstEvent()->GetTask(), "2");

  host_->RemoveEvent("3", false);
  host_->RemoveEvent("x", false);
  EXPECT_EQ(host_->QueueLength(), 4u);
  EXPECT_TRUE(data_.Commands().empty());
  // The one-time deletion runs whether or not the task was queued.
  host_->RemoveEvent("7", true);
  host_->RemoveEvent("zz", true);
  EXPECT_EQ(data_.Commands(),
            (std::vector<std::string>{dmi::ProfileDeleteCommand(8), dmi::ProfileDeleteCommand(1)}));
  EXPECT_NE(data_.Read().find("[Scheduler Profile 7]\nState=Delete\n"), std::string::npos);
}

TEST_F(SchedulerHostTest, ALongWaitSleepsInChunksThenFires) {
  ScheduleEvent one;
  one.SetOneTime("2", 2027, 4, 14, 10, 20);  // now
  for (int i = 0; i < 50001; ++i) one.AdvanceMinute();
  // Adding takes the 1 s of a Wake with no signal pending, so the timer is
  // armed 3,000,000 s before the event is due.
  clock_.AdvanceSeconds(59);

  Add(one);
  const int64_t start = clock_.NowMs();
  EXPECT_EQ(clock_.EarliestDeadline(), start + int64_t{kMaxSleepChunk} * 1000);
  ASSERT_TRUE(time_->RunFor(int64_t{kMaxSleepChunk} * 1000));
  EXPECT_TRUE(data_.Activations().empty());
  EXPECT_EQ(clock_.EarliestDeadline(), start + 3'000'000'000LL);
  ASSERT_TRUE(time_->RunFor(852'517'000LL - 1));
  EXPECT_TRUE(data_.Activations().empty());
  ASSERT_TRUE(time_->RunFor(5000));
  // Fired: the user event is marked (rows 11, 12, 13) and wactivate gets the
  // slot of the profile's name; the one-time event leaves the queue and its
  // profile is marked deleted.
  EXPECT_EQ(data_.Activations(), std::vector<std::string>{"wactivate /category:2 /event:2"});
  const auto commands = data_.Commands();
  for (const std::string& sent : {dmi::Cat2FiredCommand(2), dmi::GeneralFiredCommand(),
                                  std::string(dmi::kSynchCommand), dmi::ProfileDeleteCommand(3)}) {
    EXPECT_NE(std::find(commands.begin(), commands.end(), sent), commands.end()) << sent;
  }
  EXPECT_EQ(host_->QueueLength(), 0u);
  EXPECT_NE(data_.Read().find("State=Delete"), std::string::npos);
  EXPECT_NE(data_.Read().find("[Event Cat2:2]\nEvent Status=True\n"), std::string::npos);
}

TEST_F(SchedulerHostTest, OverdueEventsMoveOnWithoutRunning) {
  // Weekly, due between two and three weeks ago: advanced three times.
  ScheduleEvent overdue;
  overdue.SetSchedule("1", 2027, 3, 31, 4, 9, 0, schedule::Weekly);
  const platform::TimeValue first = overdue.GetNextTime();
  // Hourly at minute 0, now 10:20: 10:00 has passed, first run 11:00.
  ScheduleEvent hourly;
  hourly.SetHourly("2", 0);

  Add(overdue);
  Add(hourly);
  ASSERT_TRUE(time_->RunFor(10'000));
  EXPECT_TRUE(data_.Activations().empty());
  EXPECT_EQ(DueTimes(),
            (std::vector<platform::TimeValue>{kStart + 40 * 60, first + 3 * schedule::kWeekSpan}));
  // The next run is at 11:00, for the hourly one only.
  ASSERT_TRUE(time_->RunFor(40 * 60 * 1000));
  EXPECT_EQ(data_.Activations(), std::vector<std::string>{"wactivate /category:2 /event:2"});
}

TEST_F(SchedulerHostTest, ANewHeadCancelsTheTimerAndASecondDueEventIsNotStarted) {
  Add(Daily("1", 10, 30));
  std::shared_ptr<EventTimer> first = host_->scheduler().CurrentTimer();
  ASSERT_TRUE(first);
  Add(Daily("2", 10, 25));
  EXPECT_NE(host_->scheduler().CurrentTimer(), first);
  EXPECT_FALSE(first->IsArmed());
  ASSERT_TRUE(time_->RunFor(11 * 60 * 1000));
  // Each ran once, the new head first; the cancelled timer fired nothing.
  EXPECT_EQ(data_.Activations(), (std::vector<std::string>{"wactivate /category:2 /event:2",
                                                           "wactivate /category:2 /event:3"}));
  // Both moved on a day. Of two events due in the same second the second
  // is found due after the first fired, and moves on without being started.
  Add(Daily("3", 10, 40));
  Add(Daily("4", 10, 40));
  ASSERT_TRUE(time_->RunFor(10 * 60 * 1000));
  // Slot 3's profile name is in no list slot: /event:0.
  EXPECT_EQ(data_.Activations().back(), "wactivate /category:2 /event:0");
  EXPECT_EQ(data_.Activations().size(), 3u);
  EXPECT_EQ(DueTimes(),
            (std::vector<platform::TimeValue>{
                kStart + 5 * 60 + schedule::kDaySpan, kStart + 10 * 60 + schedule::kDaySpan,
                kStart + 20 * 60 + schedule::kDaySpan, kStart + 20 * 60 + schedule::kDaySpan}));
}

TEST_F(SchedulerHostTest, ASetBackOfTheWallClockReArmsASetForwardKeepsTheArmedWait) {
  const platform::TimeValue due = kStart + 40 * 60;  // 11:00
  Add(Daily("1", 11, 0));
  // Back an hour: 11:00 of the new clock is 1 h 40 min away, not 40 min.
  ASSERT_TRUE(time_->Run([this] { clock_.StepWallSeconds(-3600); }));
  ASSERT_TRUE(time_->RunFor((due - clock_.Now() - 1) * 1000LL));
  EXPECT_TRUE(data_.Activations().empty());
  ASSERT_TRUE(time_->RunFor(5000));  // and tomorrow's 11:00 is armed
  EXPECT_EQ(data_.Activations().size(), 1u);
  // Forward an hour: tomorrow's 11:00 comes an hour sooner by the wall, but
  // the armed wait runs out an hour late rather than the event going unrun.
  ASSERT_TRUE(time_->Run([this] { clock_.StepWallSeconds(3600); }));
  ASSERT_TRUE(time_->RunFor((due + schedule::kDaySpan - clock_.Now() + 1) * 1000LL));
  EXPECT_EQ(data_.Activations().size(), 1u);
  ASSERT_TRUE(time_->RunFor(3600 * 1000 + 5000));
  EXPECT_EQ(data_.Activations().size(), 2u);
  // Back an hour at the instant the timer runs out: whichever comes first,
  // the event starts once and moves on a day.
  const int64_t deadline = clock_.EarliestDeadline();
  ASSERT_TRUE(time_->Run([this, deadline] {
    clock_.AdvanceMs(deadline - clock_.NowMs());
    clock_.StepWallSeconds(-3600);
  }));
  ASSERT_TRUE(time_->RunFor(2 * 3600 * 1000));
  EXPECT_EQ(data_.Activations().size(), 3u);
  EXPECT_EQ(DueTimes(), std::vector<platform::TimeValue>{due + 3 * schedule::kDaySpan});
}

TEST_F(SchedulerHostTest, RemovedOrIrregularEventsNeverFire) {
  // A firing that lands after a reload took its event out does not bring
  // the event back, and the emptied queue, once the dispatcher is woken,
  // leaves no timer behind.
  Add(Daily("1", 10, 30));
  EventRef fired = host_->FirstEvent();
  host_->RemoveEvent("1", false);
  ASSERT_TRUE(time_->Run([&] { host_->HandleFiredEvent(fired); }));
  EXPECT_EQ(host_->QueueLength(), 0u);
  time_->Do([this] { host_->WakeScheduler(); });
  ASSERT_TRUE(time_->RunFor(15 * 60 * 1000));
  EXPECT_TRUE(data_.Activations().empty());
  // An irregular event that reached the queue by a plain append is taken
  // out, unrun, once it stands at the head; the queue then works on.
  ScheduleEvent irregular;
  irregular.SetIrregular("2");
  host_->AppendUnordered(std::make_shared<ScheduleEvent>(irregular));
  Add(Daily("3", 10, 40));
  ASSERT_TRUE(time_->RunFor(30 * 60 * 1000));
  EXPECT_EQ(host_->FindEventIndex("2"), -1);
  EXPECT_EQ(data_.Activations(), std::vector<std::string>{"wactivate /category:2 /event:0"});
}

}  // namespace
}  // namespace engine
