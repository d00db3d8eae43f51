#include "profile_check.h"

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <map>
#include <string>

#include "config/profile_access.h"
#include "config/schedule_config.h"
#include "config/synchronisation_passes.h"
#include "kvbase/profile_text.h"
#include "platform/clock.h"
#include "platform/text.h"
#include "schedule/schedule_event.h"

namespace tools {

namespace {

using config::ScheduleConfig;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// An unknown word, or a missing one, and what the service does instead.
std::string Unknown(const std::string& word, const char* what, const char* instead) {
  return (word.empty() ? std::string("missing") : Quoted(word) + " names no " + what) + ": " +
         instead;
}

constexpr const char* kFieldKeys[] = {"Year", "DayOfMonth", "Hour", "Minute"};
constexpr const char* kFieldWords[] = {"year", "day of the month", "hour", "minute"};

// What becomes of the value, and where the service's own set-up put the
// event. -1 does not roll over: it stands for the field's value at the
// moment the service sets the event up, so the due time depends on it.
std::string WhatBecomesOf(const schedule::RolledValue& r, const schedule::ScheduleEvent* event) {
  std::tm t{};
  if (!event || event->GetNextTime() == -1 ||
      !platform::SystemClock().LocalTime(event->GetNextTime(), &t)) {
    return "the due time cannot be represented: the event counts as passed and never runs";
  }
  char due[64];
  std::snprintf(due, sizeof due, "first due %04d-%02d-%02d %02d:%02d", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
  if (r.given != -1) return std::string("rolls over, ") + due;
  return std::string("taken as the current ") + kFieldWords[r.field] +
         " when the service sets the event up; set up now, " + due;
}

void CheckSetUp(const ScheduleConfig::ProfileValues& v, int32_t frequency,
                const schedule::ScheduleEvent* event, const std::string& section,
                std::vector<ProfileProblem>* out) {
  const schedule::ValuesTaken taken = schedule::ValuesTakenBy(frequency);
  if (taken.month && !ScheduleConfig::FindMonthNumber(v.month)) {
    out->push_back({section, "Month", Unknown(v.month, "month", "read as January")});
  }
  if (taken.day_of_week && !ScheduleConfig::FindDayNumber(v.day_of_week)) {
    out->push_back({section, "DayOfWeek", Unknown(v.day_of_week, "weekday", "read as Sunday")});
  }
  for (const schedule::RolledValue& r :
       schedule::RolledOverValues(frequency, v.year, ScheduleConfig::MonthNumberFromName(v.month),
                                  v.day_of_month, v.hour, v.minute)) {
    out->push_back({section, kFieldKeys[r.field],
                    std::to_string(r.given) + " is out of range " + std::to_string(r.low) + " to " +
                        std::to_string(r.high) + ": " + WhatBecomesOf(r, event)});
  }
}

}  // namespace

std::vector<ProfileProblem> CheckProfileFile(const std::string& file) {
  std::vector<ProfileProblem> out;
  ScheduleConfig snapshot(nullptr, file);
  const std::string list = snapshot.GetCategoryKey() + config::kListSectionSuffix;
  if (snapshot.GetCategoryKey().empty()) {
    out.push_back({config::kCategoriesSection, config::kCategoryKeyPrefix,
                   "no category is named " + Quoted(config::kUserAlarmsCategory) +
                       ": the list is read from the section " + Quoted(list)});
  }
  std::map<int, const schedule::ScheduleEvent*> events;
  for (const auto& event : snapshot.GetEvents()) events[std::stoi(event->GetTask())] = event.get();
  // Names folded to one case, with the first slot that gave each.
  std::map<std::string, int> entries, names;
  std::map<std::string, std::string> states;
  for (int slot = 1; slot <= config::kSlotCount; ++slot) {
    const std::string entry = snapshot.ListEntry(slot);
    if (ScheduleConfig::IsFreeSlotEntry(entry)) continue;
    const std::string task = std::to_string(slot);
    const std::string section = config::kProfileSectionPrefix + task;
    const std::string entry_key = config::kCat2EntryPrefix + task;
    if (!entry.empty()) {
      const auto [first, fresh] = entries.emplace(platform::FoldCase(entry), slot);
      if (!fresh) {
        out.push_back({list, entry_key,
                       Quoted(entry) + " repeats " + config::kCat2EntryPrefix +
                           std::to_string(first->second) + ": a lookup by name finds slot " +
                           std::to_string(first->second) + " only"});
      }
    }
    const ScheduleConfig::ProfileValues v = snapshot.ReadProfileValues(slot);
    states[task] = v.state;
    const int32_t frequency = ScheduleConfig::ProfileFrequencyCode(v.frequency);
    if (frequency == schedule::NotSet) {
      out.push_back(
          {section, "Frequency", Unknown(v.frequency, "frequency", "the slot yields no event")});
    } else {
      CheckSetUp(v, frequency, events.count(slot) ? events[slot] : nullptr, section, &out);
    }
    if (ScheduleConfig::ProfileStateCode(v.state) == schedule::kStateNone) {
      out.push_back(
          {section, config::kStateKey, Unknown(v.state, "state", "the passes leave it alone")});
    }
    const std::string name = snapshot.ProfileName(task);
    if (snapshot.FindCat2Number(name) == 0) {
      out.push_back({section, config::kNameKey,
                     Quoted(name) + " is not in the Cat2 list " + Quoted(config::kUserAlarmList) +
                         ": firing and deletion do not find its user event"});
    }
    const auto [first, fresh] = names.emplace(platform::FoldCase(name), slot);
    if (!fresh && !name.empty()) {
      out.push_back({section, config::kNameKey,
                     Quoted(name) + " repeats " + config::kProfileSectionPrefix +
                         std::to_string(first->second)});
    }
  }
  // What the passes walk, and what a reload acts on.
  const auto& loaded = snapshot.GetEvents();
  const size_t visits = config::VisitCount(snapshot.GetCat2Count(), loaded.size());
  const bool changed = snapshot.IsChanged();
  for (size_t i = 0; i < loaded.size(); ++i) {
    const std::string& task = loaded[i]->GetTask();
    if (i >= visits) {
      out.push_back({list, config::kCat2CountKey,
                     std::to_string(snapshot.GetCat2Count()) + " leaves out slot " + task +
                         ", in use: the passes never handle its profile"});
      continue;
    }
    const int32_t state = loaded[i]->GetState();
    if (!changed && (state == schedule::kStateAdd || state == schedule::kStateUpdate ||
                     state == schedule::kStateDelete)) {
      out.push_back({list, config::kChangedKey,
                     "not \"True\" while " + std::string(config::kProfileSectionPrefix) + task +
                         " says " + states[task] + ": a reload leaves it alone"});
    }
  }
  return out;
}

std::string WhyNotQueued(const schedule::ScheduleEvent& e, bool visited, int32_t count) {
  if (!visited) return "beyond the list's count of " + std::to_string(count);
  if (e.GetFrequency() == schedule::Irregular) return "irregular events never run";
  if (!config::InitialPassQueues(e.GetState())) {
    return e.GetState() == schedule::kStateDelete ? "deleted" : "no state to queue it";
  }
  if (schedule::UpcomingFirings(e, 1).empty()) return "its one time has passed";
  return "";
}

// Why `text` would not read back as written in the role `what` ("section",
// "key" or "value"), or "" when it would. The reader splits lines at CR and
// LF, trims blanks at both ends, splits a key line at its first '=', takes a
// line that starts with '[' for a header and one with ';' for a comment, and
// drops one pair of matching outer quotes from a value.
std::string Unreadable(const std::string& text, const std::string& what) {
  if (text.find_first_of("\r\n") != std::string::npos) return what + " holds a line break";
  if (!text.empty() && (kvbase::IsProfileSpace(static_cast<unsigned char>(text.front())) ||
                        kvbase::IsProfileSpace(static_cast<unsigned char>(text.back())))) {
    return what + " starts or ends with a blank";
  }
  if (what == "key") {
    if (text.find('=') != std::string::npos) return "key holds '='";
    if (!text.empty() && (text[0] == '[' || text[0] == ';')) return "key starts with '[' or ';'";
  }
  if (what == "value" && text.size() > 1 && (text[0] == '"' || text[0] == '\'') &&
      text.back() == text[0]) {
    return "value is in matching quotes, which the reader drops";
  }
  return "";
}

std::string FormatProblem(const ProfileProblem& problem) {
  return "[" + problem.section + "] " + problem.key + ": " + problem.text;
}

}  // namespace tools
