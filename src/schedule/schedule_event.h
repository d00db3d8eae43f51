// One scheduled task: what to start, how often, and when it is next due.
#ifndef SCHEDEXE_SCHEDULE_SCHEDULE_EVENT_H_
#define SCHEDEXE_SCHEDULE_SCHEDULE_EVENT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/clock.h"

namespace schedule {

using TimeValue = platform::TimeValue;
using TimeSpan = int32_t;

// Codes that are stored and compared as numbers are plain enums with a fixed
// type; every other enum of the project is an enum class.

// How an event recurs.
enum Frequency : int32_t {
  NotSet = -1,
  OneTime = 0,
  Hourly = 1,
  Daily = 2,
  Weekly = 3,
  Monthly = 4,
  Yearly = 5,
  Irregular = 6,
};

// The profile's "State" word as a code: 0 none, 1 Active, 2 Add, 3 Delete,
// 4 Update.
enum ProfileState : int32_t {
  kStateNone = 0,
  kStateActive = 1,
  kStateAdd = 2,
  kStateDelete = 3,
  kStateUpdate = 4,
};

inline constexpr TimeSpan kHourSpan = 3600;
inline constexpr TimeSpan kDaySpan = 86400;
inline constexpr TimeSpan kWeekSpan = 7 * kDaySpan;
inline constexpr TimeSpan kMonthSpan = 30 * kDaySpan;
inline constexpr TimeSpan kYearSpan = 365 * kDaySpan;
inline constexpr TimeSpan kMinuteSpan = 60;

inline constexpr int kFrequencyCount = 7;
// The frequencies by code, as the schedule text form writes them.
inline constexpr const char* kScheduleFrequencyWords[kFrequencyCount] = {
    "oneTime", "hourly", "daily", "weekly", "monthly", "yearly", "irregular"};

// The code of a frequency word (any case) in `words`, listed by code; NotSet
// when it is none of them.
int32_t FrequencyFromWord(std::string_view word, const char* const (&words)[kFrequencyCount]);

// The schedule text form: one section "schedEvent" n per event, with these
// keys, for writing and reading alike, so that a saved schedule loads back
// unchanged.
inline constexpr char kScheduleSectionPrefix[] = "schedEvent";
inline constexpr char kScheduleTaskKey[] = "task";
inline constexpr char kScheduleFrequencyKey[] = "frequency";
inline constexpr char kScheduleYearKey[] = "year";
inline constexpr char kScheduleMonthKey[] = "month";
inline constexpr char kScheduleDayOfMonthKey[] = "dayOfMonth";
inline constexpr char kScheduleDayOfWeekKey[] = "dayOfWeek";
inline constexpr char kScheduleHourKey[] = "hour";
inline constexpr char kScheduleMinuteKey[] = "minute";

// Weekday 1 (Sunday) to 7 by name, at index day - 1.
inline constexpr const char* kDayNames[7] = {"Sunday",   "Monday", "Tuesday", "Wednesday",
                                             "Thursday", "Friday", "Saturday"};

// The calendar values the set-up of a frequency takes; it passes -1 (the
// current value) for the others, or ignores them. All false for a code that
// names no frequency.
struct ValuesTaken {
  bool year, month, day_of_month, day_of_week, hour, minute;
};
ValuesTaken ValuesTakenBy(int32_t frequency);

// A calendar value that a set-up takes and the local-time conversion does not
// keep as given but rolls over into the neighbouring unit (minute 60 is minute
// 0 of the next hour, 31 April is 1 May), with the range that keeps it. A year
// stands here when the calendar time cannot be represented (the due time is
// -1). Nothing refuses such values; this only tells which they are.
struct RolledValue {
  enum Field { kYear, kDayOfMonth, kHour, kMinute } field;
  int32_t given;
  int32_t low;
  int32_t high;
};
std::vector<RolledValue> RolledOverValues(int32_t frequency, int32_t year, int32_t month,
                                          int32_t dayOfMonth, int32_t hour, int32_t minute);

// A time value moved by a span. Wraps like the 32-bit arithmetic it models
// instead of overflowing.
TimeValue AddSpan(TimeValue t, TimeSpan span);

class ScheduleEvent {
 public:
  ScheduleEvent() = default;
  ScheduleEvent(const ScheduleEvent&) = default;
  ScheduleEvent& operator=(const ScheduleEvent&) = default;
  virtual ~ScheduleEvent() = default;

  // Set-up: stores task and frequency and computes the first due time. A
  // calendar value of -1 stands for the current value of that field; none is
  // checked against its range (the local-time conversion rolls them over).
  void SetOneTime(std::string task, int32_t year, int32_t month, int32_t dayOfMonth, int32_t hour,
                  int32_t minute);
  void SetHourly(std::string task, int32_t minute);
  void SetDaily(std::string task, int32_t hour, int32_t minute);
  void SetWeekly(std::string task, int32_t dayOfWeek, int32_t hour, int32_t minute);
  void SetMonthly(std::string task, int32_t dayOfMonth, int32_t hour, int32_t minute);
  void SetYearly(std::string task, int32_t month, int32_t dayOfMonth, int32_t hour, int32_t minute);
  void SetIrregular(std::string task);
  void SetSchedule(std::string task, int32_t year, int32_t month, int32_t dayOfMonth,
                   int32_t dayOfWeek, int32_t hour, int32_t minute, int32_t frequency);

  // Moves the due time on by a fixed span; not a calendar computation.
  void AdvanceHour() { Advance(kHourSpan); }
  void AdvanceDay() { Advance(kDaySpan); }
  void AdvanceWeek() { Advance(kWeekSpan); }
  void AdvanceMonth() { Advance(kMonthSpan); }
  void AdvanceYear() { Advance(kYearSpan); }
  void AdvanceMinute() { Advance(kMinuteSpan); }
  // The advance of the event's frequency, made once its due time has come;
  // false, and no change, for a frequency that does not recur.
  bool AdvanceByFrequency();

  // Runs the set-up operation of a frequency code with the calendar values
  // it takes; false (nothing set up) for a code that names no frequency.
  bool SetUp(int32_t frequency, std::string task, int32_t year, int32_t month, int32_t dayOfMonth,
             int32_t dayOfWeek, int32_t hour, int32_t minute);
  // Writes the event as section "schedEvent" n of `file`, which becomes its
  // source file.
  void WriteSection(int32_t n, const std::string& file);
  // The keys and values of that section, in the order they are written.
  std::vector<std::pair<std::string, std::string>> SectionEntries() const;
  // One English line: "Daily event: 3 at 9:5".
  std::string Describe() const;
  // "Sunday" ... "Saturday" for 1 to 7, else "".
  static std::string DayName(int32_t day);

  std::string GetTask() const { return task; }
  int32_t GetFrequency() const { return frequency; }
  TimeValue GetNextTime() const { return nextTime; }
  // An event as another process holds it (a published queue).
  void SetNextTime(TimeValue t) { nextTime = t; }
  int32_t GetState() const { return state; }
  void SetState(int32_t s) { state = s; }
  std::string GetSourceFile() const { return sourceFile; }
  void SetSourceFile(std::string file) { sourceFile = std::move(file); }
  int32_t GetDayOfWeek() const { return dayOfWeek; }
  std::string GetReserved1() const { return reserved1; }
  std::string GetReserved2() const { return reserved2; }

 private:
  void Advance(TimeSpan span) { nextTime = AddSpan(nextTime, span); }

  std::string sourceFile;
  std::string task;
  int32_t state = kStateNone;
  std::string reserved1;
  std::string reserved2;
  // Meaningful only after a set-up operation.
  int32_t dayOfWeek = -1;
  int32_t frequency = NotSet;
  TimeValue nextTime = 0;
};

// Seconds from now (system clock) until the event is due; 0 or less when due
// or overdue.
int32_t SecondsUntil(const ScheduleEvent& event);

// The next `count` due times at which the engine starts the event, from now
// (system clock) on: one that is due or overdue is first moved on unrun, span
// by span, as the dispatcher moves it; a one-time event starts at most once,
// an irregular one never.
std::vector<TimeValue> UpcomingFirings(const ScheduleEvent& event, int count);

// -1, 0 or 1 as a's due time is earlier than, equal to or later than b's.
int CompareEvents(const ScheduleEvent& a, const ScheduleEvent& b);

}  // namespace schedule

#endif  // SCHEDEXE_SCHEDULE_SCHEDULE_EVENT_H_
