#include "schedule/schedule_event.h"

#include <gtest/gtest.h>

#include <climits>
#include <ctime>
#include <string>

#include "support/manual_clock.h"

namespace schedule {
namespace {

std::tm Local(TimeValue t) {
  std::tm tm{};
  EXPECT_TRUE(platform::SystemClock().LocalTime(t, &tm));
  return tm;
}

// An event as "<frequency> <local due time>", so one comparison checks both.
std::string Show(const ScheduleEvent& e) {
  const std::tm tm = Local(e.GetNextTime());
  char due[32];
  std::strftime(due, sizeof due, "%Y-%m-%d %H:%M:%S", &tm);
  const int f = e.GetFrequency();
  return std::string(f >= 0 && f < kFrequencyCount ? kScheduleFrequencyWords[f] : "notSet") + " " +
         due;
}

class ScheduleEventTest : public ::testing::Test {
 protected:
  // Puts virtual "now" at the given UTC calendar time.
  void SetNow(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const TimeValue target = platform::SystemClock().MakeTime(&tm);
    ASSERT_NE(target, -1);
    clock_.AdvanceSeconds(static_cast<int64_t>(target) - clock_.Now());
  }

  testsupport::UtcManualTime utc_{0};
  testsupport::ManualClock& clock_ = utc_.clock;
};

TEST_F(ScheduleEventTest, FirstDueTimeOfEveryFrequency) {
  SetNow(2027, 4, 14, 10, 20, 30);  // a Wednesday
  ScheduleEvent e;
  EXPECT_EQ(e.GetFrequency(), NotSet);
  EXPECT_EQ(e.GetState(), kStateNone);

  e.SetHourly("3", 15);
  EXPECT_EQ(Show(e), "hourly 2027-04-14 10:15:00");
  EXPECT_EQ(e.GetDayOfWeek(), -1);
  // Minute 0 at 10:20 lies 20 minutes back and is not moved forward.
  e.SetHourly("3", 0);
  EXPECT_EQ(SecondsUntil(e), -(20 * 60 + 30));
  e.SetDaily("1", 9, 5);
  EXPECT_EQ(Show(e), "daily 2027-04-14 09:05:00");
  e.SetOneTime("2", 2027, 12, 24, 18, 0);
  EXPECT_EQ(Show(e), "oneTime 2027-12-24 18:00:00");
  e.SetMonthly("4", 20, 7, 30);
  EXPECT_EQ(Show(e), "monthly 2027-04-20 07:30:00");
  e.SetYearly("6", 1, 2, 3, 4);
  EXPECT_EQ(Show(e), "yearly 2027-01-02 03:04:00");
  e.SetIrregular("7");
  EXPECT_EQ(Show(e), "irregular 2027-04-14 10:20:00");
  // -1 stands for the current value of a field.
  e.SetOneTime("2", -1, -1, -1, -1, 45);
  EXPECT_EQ(Show(e), "oneTime 2027-04-14 10:45:00");

  // Calendar values past their range roll over into the next unit.
  e.SetMonthly("1", 31, 8, 0);  // no 31 April
  EXPECT_EQ(Show(e), "monthly 2027-05-01 08:00:00");
  e.SetYearly("1", 2, 29, 8, 0);  // 2027 is a common year
  EXPECT_EQ(Show(e), "yearly 2027-03-01 08:00:00");
  e.SetMonthly("1", 0, 8, 0);  // day 0: last day of March
  EXPECT_EQ(Show(e), "monthly 2027-03-31 08:00:00");
  e.SetDaily("1", 8, 60);
  EXPECT_EQ(Show(e), "daily 2027-04-14 09:00:00");
  e.SetYearly("1", 13, 1, 0, 0);
  EXPECT_EQ(Show(e), "yearly 2028-01-01 00:00:00");
}

TEST_F(ScheduleEventTest, UnrepresentableTimesGiveMinusOne) {
  SetNow(2027, 4, 14, 10, 20, 30);
  ScheduleEvent e;
  e.SetOneTime("1", 1960, 6, 1, 12, 0);
  EXPECT_EQ(e.GetNextTime(), -1);
  e.SetOneTime("1", 2040, 6, 1, 12, 0);
  EXPECT_EQ(e.GetNextTime(), -1);
  e.SetOneTime("1", 2038, 1, 19, 3, 14);
  EXPECT_EQ(e.GetNextTime(), INT32_MAX - 7);
  // Numbers no calendar can hold are refused, not overflowed.
  e.SetOneTime("1", INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, INT32_MIN);
  EXPECT_EQ(e.GetNextTime(), -1);
  e.SetMonthly("1", 99999999, 99999999, 99999999);
  EXPECT_EQ(e.GetNextTime(), -1);
  EXPECT_LT(SecondsUntil(e), 0);
}

TEST_F(ScheduleEventTest, WeeklyFallsOnTheComingMatchingWeekday) {
  // 2027-04-11 is a Sunday; try every weekday as today and as target.
  for (int today = 1; today <= 7; ++today) {
    SetNow(2027, 4, 10 + today, 15, 0, 0);
    ASSERT_EQ(Local(clock_.Now()).tm_wday + 1, today);
    for (int target = 1; target <= 7; ++target) {
      ScheduleEvent e;
      e.SetWeekly("5", target, 9, 0);
      const std::tm due = Local(e.GetNextTime());
      EXPECT_EQ(due.tm_mday - (10 + today), (target - today + 7) % 7) << today << "->" << target;
      EXPECT_EQ(due.tm_hour, 9);
      EXPECT_EQ(e.GetDayOfWeek(), target);
    }
    // Day 0 lands where Saturday does; -1 means today.
    ScheduleEvent zero, saturday, unset;
    zero.SetWeekly("5", 0, 9, 0);
    saturday.SetWeekly("5", 7, 9, 0);
    EXPECT_EQ(zero.GetNextTime(), saturday.GetNextTime());
    unset.SetWeekly("5", -1, 9, 0);
    EXPECT_EQ(Local(unset.GetNextTime()).tm_mday, 10 + today);
  }
}

TEST_F(ScheduleEventTest, AdvanceAddsFixedSpansAndDriftsAgainstTheCalendar) {
  SetNow(2027, 1, 1, 0, 0, 0);
  ScheduleEvent e;
  e.SetOneTime("1", 2027, 1, 31, 9, 0);
  // A month is 30 days, a year 365, whatever the calendar says.
  for (const char* due : {"03-02", "04-01", "05-01", "05-31"}) {
    e.AdvanceMonth();
    EXPECT_EQ(Show(e), std::string("oneTime 2027-") + due + " 09:00:00");
  }
  e.SetOneTime("1", 2027, 3, 1, 9, 0);
  e.AdvanceYear();
  EXPECT_EQ(Show(e), "oneTime 2028-02-29 09:00:00");

  const TimeValue t = e.GetNextTime();
  e.AdvanceHour();
  EXPECT_EQ(e.GetNextTime(), t + 3600);
  e.AdvanceDay();
  EXPECT_EQ(e.GetNextTime(), t + 3600 + 86400);
  e.AdvanceWeek();
  e.AdvanceMinute();
  EXPECT_EQ(e.GetNextTime(), t + 3600 + 86400 + 604800 + 60);
  // Past the end of the 32-bit range it wraps instead of overflowing.
  EXPECT_EQ(AddSpan(INT32_MAX, 1), INT32_MIN);
}

TEST_F(ScheduleEventTest, UpcomingFiringsFollowTheDispatchersAdvance) {
  SetNow(2027, 1, 15, 12, 0, 0);
  auto days = [](const ScheduleEvent& e, int n) {
    std::string out;
    for (TimeValue t : UpcomingFirings(e, n)) {
      char day[16];
      const std::tm tm = Local(t);
      std::strftime(day, sizeof day, "%m-%d %H:%M ", &tm);
      out += day;
    }
    return out;
  };
  ScheduleEvent monthly, daily, overdue, once, passed, irregular;
  monthly.SetMonthly("1", 31, 9, 0);  // 31 January: then 30-day spans
  daily.SetDaily("2", 12, 0);         // due this very second: moved on unrun
  overdue.SetWeekly("3", 6, 8, 0);    // today, Friday, passed this morning
  once.SetOneTime("4", 2027, 2, 1, 7, 30);
  passed.SetOneTime("5", 2027, 1, 1, 7, 30);
  irregular.SetIrregular("6");
  EXPECT_EQ(days(monthly, 5), "01-31 09:00 03-02 09:00 04-01 09:00 05-01 09:00 05-31 09:00 ");
  EXPECT_EQ(days(daily, 2), "01-16 12:00 01-17 12:00 ");
  EXPECT_EQ(days(overdue, 1), "01-22 08:00 ");
  EXPECT_EQ(days(once, 3), "02-01 07:30 ");
  EXPECT_EQ(days(passed, 3), "");
  EXPECT_EQ(days(irregular, 3), "");
  // The event itself does not move.
  EXPECT_EQ(Show(daily), "daily 2027-01-15 12:00:00");
}

}  // namespace
}  // namespace schedule
