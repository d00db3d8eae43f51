// Due times across daylight-saving changes, in one zone of each hemisphere.
// ctest runs these with TZ and SCHEDEXE_DST_ZONE set to the zone (natively
// and under Wine); in a run without a zone they have nothing to check.
#include <gtest/gtest.h>

#include <ctime>
#include <optional>
#include <string>

#include "platform/process_info.h"
#include "schedule/schedule_event.h"
#include "support/manual_clock.h"

namespace schedule {
namespace {

struct Local {
  int month, day, hour, minute, weekday;
};

Local ToLocal(TimeValue t) {
  std::tm tm{};
  EXPECT_TRUE(platform::SystemClock().LocalTime(t, &tm));
  return {tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_wday + 1};
}

class CalendarDstTest : public ::testing::Test {
 protected:
  void SetUp() override {
    zone_ = platform::GetEnvironmentVariable("SCHEDEXE_DST_ZONE");
    if (zone_.empty()) GTEST_SKIP() << "runs under ctest with a zone set";
    zone_guard_.emplace(zone_.c_str(), /*startup_zone=*/true);
  }

  // Virtual now at a UTC instant.
  void SetNowUtc(TimeValue t) { clock_.AdvanceSeconds(int64_t{t} - clock_.Now()); }

  std::string zone_;
  testsupport::ManualClock clock_{0};
  testsupport::ScopedSystemClock installed_{clock_};
  std::optional<testsupport::ScopedTimeZone> zone_guard_;
};

// 2027: Europe/Berlin goes to summer time on 28 March, back on 31 October;
// Australia/Sydney leaves summer time on 4 April, returns on 3 October.
TEST_F(CalendarDstTest, DailyEventsShiftByTheClockChangeWeeklyDatesCanSlip) {
  const bool north = zone_ == "Europe/Berlin";
  ASSERT_TRUE(north || zone_ == "Australia/Sydney") << zone_;

  // Daily at 09:00 the day before the change; one fixed day later the local
  // clock reads 10:00 (spring forward) or 08:00 (fall back).
  SetNowUtc(north ? 1806127200 /* 2027-03-27 06:00Z */
                  : 1806703200 /* 2027-04-02 22:00Z, 3 Apr local */);
  ScheduleEvent daily;
  daily.SetDaily("1", 9, 0);
  Local first = ToLocal(daily.GetNextTime());
  EXPECT_EQ(first.hour, 9);
  EXPECT_EQ(first.day, north ? 27 : 3);
  daily.AdvanceDay();
  Local next = ToLocal(daily.GetNextTime());
  EXPECT_EQ(next.day, north ? 28 : 4);
  EXPECT_EQ(next.hour, north ? 10 : 8);

  // An hourly event keeps its minute across the change.
  ScheduleEvent hourly;
  hourly.SetHourly("2", 15);
  for (int i = 0; i < 30; ++i) hourly.AdvanceHour();
  EXPECT_EQ(ToLocal(hourly.GetNextTime()).minute, 15);

  // Saturday 23:30 local, the night before the clocks go forward: weekly on
  // Sunday adds one fixed day to the instant, which lands on Monday 00:30
  // local, so the date read back is the Monday.
  SetNowUtc(north ? 1806186600 /* 2027-03-27 22:30Z = Sat 23:30 CET */
                  : 1822483800 /* 2027-10-02 13:30Z = Sat 23:30 AEST */);
  ASSERT_EQ(ToLocal(clock_.Now()).weekday, 7);
  ScheduleEvent weekly;
  weekly.SetWeekly("3", 1, 9, 0);
  const Local due = ToLocal(weekly.GetNextTime());
  EXPECT_EQ(due.weekday, 2);  // Monday, one day past the Sunday asked for
  EXPECT_EQ(due.hour, 9);

  // A clock time inside the spring gap is the C library's to resolve; it is
  // still a time, near the change.
  ScheduleEvent gap;
  gap.SetOneTime("4", 2027, north ? 3 : 10, north ? 28 : 3, 2, 30);
  ASSERT_NE(gap.GetNextTime(), -1);
  const Local resolved = ToLocal(gap.GetNextTime());
  EXPECT_GE(resolved.hour, 1);
  EXPECT_LE(resolved.hour, 3);
}

}  // namespace
}  // namespace schedule
