#include "schedule/schedule_event.h"

#include <climits>
#include <cstdio>
#include <ctime>

#include "kvbase/profile.h"
#include "platform/text.h"

namespace schedule {

namespace {

// The local-time conversion of calendar values; -1 for a calendar time the
// time value cannot hold, including fields no struct tm can carry.
TimeValue MakeLocalTime(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t minute) {
  const int64_t tm_year = year - 1900;
  const int64_t tm_mon = month - 1;
  for (int64_t field : {tm_year, tm_mon, day, hour, minute}) {
    if (field < INT_MIN || field > INT_MAX) return -1;
  }
  std::tm fields{};
  fields.tm_year = static_cast<int>(tm_year);
  fields.tm_mon = static_cast<int>(tm_mon);
  fields.tm_mday = static_cast<int>(day);
  fields.tm_hour = static_cast<int>(hour);
  fields.tm_min = static_cast<int>(minute);
  fields.tm_sec = 0;
  return platform::SystemClock().MakeTime(&fields);
}

// Each value that is -1 becomes the current local value of its field.
void FillCurrentValues(int32_t* year, int32_t* month, int32_t* dayOfMonth, int32_t* hour,
                       int32_t* minute) {
  platform::Clock& clock = platform::SystemClock();
  std::tm now{};
  clock.LocalTime(clock.Now(), &now);
  if (*year == -1) *year = now.tm_year + 1900;
  if (*month == -1) *month = now.tm_mon + 1;
  if (*dayOfMonth == -1) *dayOfMonth = now.tm_mday;
  if (*hour == -1) *hour = now.tm_hour;
  if (*minute == -1) *minute = now.tm_min;
}

int32_t Taken(bool taken, int32_t value) { return taken ? value : -1; }

}  // namespace

ValuesTaken ValuesTakenBy(int32_t frequency) {
  switch (frequency) {
    case OneTime:
      return {true, true, true, false, true, true};
    case Hourly:
      return {false, false, false, false, false, true};
    case Daily:
      return {false, false, false, false, true, true};
    case Weekly:
      return {false, false, false, true, true, true};
    case Monthly:
      return {false, false, true, false, true, true};
    case Yearly:
      return {false, true, true, false, true, true};
    default:
      return {false, false, false, false, false, false};
  }
}

std::vector<RolledValue> RolledOverValues(int32_t frequency, int32_t year, int32_t month,
                                          int32_t dayOfMonth, int32_t hour, int32_t minute) {
  const ValuesTaken t = ValuesTakenBy(frequency);
  std::vector<RolledValue> rolled;
  int32_t y = Taken(t.year, year), m = Taken(t.month, month), d = Taken(t.day_of_month, dayOfMonth);
  int32_t h = Taken(t.hour, hour), min = Taken(t.minute, minute);
  FillCurrentValues(&y, &m, &d, &h, &min);
  if (t.year && MakeLocalTime(y, m, d, h, min) == -1) {
    rolled.push_back({RolledValue::kYear, year, 1970, 2038});
  }
  if (t.day_of_month) {
    // Day 0 of the next month is the last day of this one.
    std::tm last{};
    const TimeValue end = MakeLocalTime(y, int64_t{m} + 1, 0, 12, 0);
    const int32_t days =
        end != -1 && platform::SystemClock().LocalTime(end, &last) ? last.tm_mday : 31;
    if (dayOfMonth < 1 || dayOfMonth > days) {
      rolled.push_back({RolledValue::kDayOfMonth, dayOfMonth, 1, days});
    }
  }
  if (t.hour && (hour < 0 || hour > 23)) rolled.push_back({RolledValue::kHour, hour, 0, 23});
  if (t.minute && (minute < 0 || minute > 59)) {
    rolled.push_back({RolledValue::kMinute, minute, 0, 59});
  }
  return rolled;
}

TimeValue AddSpan(TimeValue t, TimeSpan span) {
  return static_cast<TimeValue>(static_cast<uint32_t>(t) + static_cast<uint32_t>(span));
}

void ScheduleEvent::SetSchedule(std::string task_text, int32_t year, int32_t month,
                                int32_t dayOfMonth, int32_t day_of_week, int32_t hour,
                                int32_t minute, int32_t freq) {
  task = std::move(task_text);
  FillCurrentValues(&year, &month, &dayOfMonth, &hour, &minute);
  nextTime = MakeLocalTime(year, month, dayOfMonth, hour, minute);
  dayOfWeek = day_of_week;
  frequency = freq;
}

void ScheduleEvent::SetOneTime(std::string task_text, int32_t year, int32_t month,
                               int32_t dayOfMonth, int32_t hour, int32_t minute) {
  SetUp(OneTime, std::move(task_text), year, month, dayOfMonth, -1, hour, minute);
}

void ScheduleEvent::SetHourly(std::string task_text, int32_t minute) {
  SetUp(Hourly, std::move(task_text), -1, -1, -1, -1, -1, minute);
}

void ScheduleEvent::SetDaily(std::string task_text, int32_t hour, int32_t minute) {
  SetUp(Daily, std::move(task_text), -1, -1, -1, -1, hour, minute);
}

void ScheduleEvent::SetWeekly(std::string task_text, int32_t day_of_week, int32_t hour,
                              int32_t minute) {
  platform::Clock& clock = platform::SystemClock();
  TimeValue when = clock.Now();
  std::tm local{};
  if (day_of_week != -1) {
    clock.LocalTime(when, &local);
    const int64_t today = local.tm_wday + 1;
    // Whole days added to the instant, then the date read back: the coming
    // matching weekday, today included.
    const int64_t offset = day_of_week >= today ? day_of_week - today : 7 - (today - day_of_week);
    when = AddSpan(when, static_cast<TimeSpan>(offset * kDaySpan));
  }
  int32_t year = -1, month = -1, day = -1;
  if (clock.LocalTime(when, &local)) {
    year = local.tm_year + 1900;
    month = local.tm_mon + 1;
    day = local.tm_mday;
  }
  SetSchedule(std::move(task_text), year, month, day, day_of_week, hour, minute, Weekly);
}

void ScheduleEvent::SetMonthly(std::string task_text, int32_t dayOfMonth, int32_t hour,
                               int32_t minute) {
  SetUp(Monthly, std::move(task_text), -1, -1, dayOfMonth, -1, hour, minute);
}

void ScheduleEvent::SetYearly(std::string task_text, int32_t month, int32_t dayOfMonth,
                              int32_t hour, int32_t minute) {
  SetUp(Yearly, std::move(task_text), -1, month, dayOfMonth, -1, hour, minute);
}

void ScheduleEvent::SetIrregular(std::string task_text) {
  SetUp(Irregular, std::move(task_text), -1, -1, -1, -1, -1, -1);
}

namespace {

std::string Format(const char* format, auto... args) {
  const int length = std::snprintf(nullptr, 0, format, args...);
  if (length <= 0) return "";
  std::string line(static_cast<size_t>(length) + 1, '\0');
  std::snprintf(line.data(), line.size(), format, args...);
  line.pop_back();
  return line;
}

}  // namespace

bool ScheduleEvent::SetUp(int32_t freq, std::string task_text, int32_t year, int32_t month,
                          int32_t dayOfMonth, int32_t day_of_week, int32_t hour, int32_t minute) {
  if (freq < OneTime || freq > Irregular) return false;
  if (freq == Weekly) {
    SetWeekly(std::move(task_text), day_of_week, hour, minute);
    return true;
  }
  const ValuesTaken t = ValuesTakenBy(freq);
  SetSchedule(std::move(task_text), Taken(t.year, year), Taken(t.month, month),
              Taken(t.day_of_month, dayOfMonth), -1, Taken(t.hour, hour), Taken(t.minute, minute),
              freq);
  return true;
}

int32_t FrequencyFromWord(std::string_view word, const char* const (&words)[kFrequencyCount]) {
  for (int32_t i = 0; i < kFrequencyCount; ++i) {
    if (platform::EqualsIgnoreCase(word, words[i])) return i;
  }
  return NotSet;
}

void ScheduleEvent::WriteSection(int32_t n, const std::string& file) {
  sourceFile = file;
  const std::string section = kScheduleSectionPrefix + std::to_string(n);
  for (const auto& [key, value] : SectionEntries()) {
    TARNG_WriteProfileString(section.c_str(), key.c_str(), value.c_str(), file.c_str());
  }
}

std::vector<std::pair<std::string, std::string>> ScheduleEvent::SectionEntries() const {
  std::vector<std::pair<std::string, std::string>> entries;
  auto put = [&](const char* key, const std::string& value) { entries.emplace_back(key, value); };
  put(kScheduleTaskKey, task);
  if (frequency < OneTime || frequency > Irregular) return entries;
  put(kScheduleFrequencyKey, kScheduleFrequencyWords[frequency]);
  std::tm local{};
  platform::SystemClock().LocalTime(nextTime, &local);
  const std::string year = std::to_string(local.tm_year + 1900);
  const std::string month = std::to_string(local.tm_mon + 1);
  const std::string day = std::to_string(local.tm_mday);
  const std::string hour = std::to_string(local.tm_hour);
  const std::string minute = std::to_string(local.tm_min);
  switch (frequency) {
    case OneTime:
      put(kScheduleYearKey, year);
      put(kScheduleMonthKey, month);
      put(kScheduleDayOfMonthKey, day);
      break;
    case Weekly:
      put(kScheduleDayOfWeekKey, std::to_string(local.tm_wday + 1));
      break;
    case Monthly:
      put(kScheduleDayOfMonthKey, day);
      break;
    case Yearly:
      put(kScheduleMonthKey, month);
      put(kScheduleDayOfMonthKey, day);
      break;
    default:
      break;
  }
  if (frequency == Irregular) return entries;
  if (frequency != Hourly) put(kScheduleHourKey, hour);
  put(kScheduleMinuteKey, minute);
  return entries;
}

std::string ScheduleEvent::Describe() const {
  std::tm t{};
  platform::SystemClock().LocalTime(nextTime, &t);
  const int year = t.tm_year + 1900, month = t.tm_mon + 1;
  const char* name = task.c_str();
  switch (frequency) {
    case OneTime:
      return Format("Onetime event: %s %d/%d/%d at %d:%d", name, month, t.tm_mday, year, t.tm_hour,
                    t.tm_min);
    case Hourly:
      return Format("Hourly event: %s at %d minutes", name, t.tm_min);
    case Daily:
      return Format("Daily event: %s at %d:%d", name, t.tm_hour, t.tm_min);
    case Weekly:
      return Format("Weekly event: %s on %s at %d:%d", name, DayName(dayOfWeek).c_str(), t.tm_hour,
                    t.tm_min);
    case Monthly:
      return Format("Monthly event: %s on the %d of the month at %d:%d", name, t.tm_mday, t.tm_hour,
                    t.tm_min);
    case Yearly:
      return Format("Yearly event: %s on %d/%d at %d:%d", name, month, t.tm_mday, t.tm_hour,
                    t.tm_min);
    case Irregular:
      return Format("Irregular event: %s", name);
    default:
      return "";
  }
}

std::string ScheduleEvent::DayName(int32_t day) {
  return day >= 1 && day <= 7 ? kDayNames[day - 1] : "";
}

bool ScheduleEvent::AdvanceByFrequency() {
  switch (frequency) {
    case Hourly:
      AdvanceHour();
      return true;
    case Daily:
      AdvanceDay();
      return true;
    case Weekly:
      AdvanceWeek();
      return true;
    case Monthly:
      AdvanceMonth();
      return true;
    case Yearly:
      AdvanceYear();
      return true;
    default:
      return false;
  }
}

std::vector<TimeValue> UpcomingFirings(const ScheduleEvent& event, int count) {
  std::vector<TimeValue> times;
  if (event.GetFrequency() == Irregular) return times;
  ScheduleEvent next = event;
  // The dispatcher's test: an event whose seconds until due are not positive
  // is handled at once, without being started.
  while (SecondsUntil(next) <= 0) {
    if (!next.AdvanceByFrequency()) return times;
  }
  while (static_cast<int>(times.size()) < count) {
    times.push_back(next.GetNextTime());
    if (!next.AdvanceByFrequency()) break;
  }
  return times;
}

int32_t SecondsUntil(const ScheduleEvent& event) {
  return static_cast<int32_t>(static_cast<uint32_t>(event.GetNextTime()) -
                              static_cast<uint32_t>(platform::SystemClock().Now()));
}

int CompareEvents(const ScheduleEvent& a, const ScheduleEvent& b) {
  if (a.GetNextTime() < b.GetNextTime()) return -1;
  if (a.GetNextTime() > b.GetNextTime()) return 1;
  return 0;
}

}  // namespace schedule
