#include "profile_check.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

#include "config/profile_access.h"
#include "config/schedule_config.h"
#include "config/synchronisation_passes.h"
#include "kvbase/profile.h"
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

// Slot numbers above the twelve the service reads: list entries, and the
// profile and record sections.
void CheckSlotNumbers(const std::string& file, const std::string& list,
                      std::vector<ProfileProblem>* out) {
  for (int n : config::ListedKeyNumbers(file, list, config::kCat2EntryPrefix, INT32_MAX)) {
    if (n > config::kSlotCount) {
      out->push_back({list, config::kCat2EntryPrefix + std::to_string(n),
                      "slot " + std::to_string(n) + " is above 12: the service never reads it"});
    }
  }
  std::vector<char> names(1 << 16, '\0');
  TARNG_GetProfileString(nullptr, nullptr, "", names.data(), static_cast<int>(names.size()),
                         file.c_str());
  for (const char* name = names.data(); *name; name += std::strlen(name) + 1) {
    for (const char* prefix : {config::kProfileSectionPrefix, config::kCat2SectionPrefix}) {
      const std::string section = name;
      const size_t length = std::strlen(prefix);
      if (section.size() <= length ||
          !platform::EqualsIgnoreCase(section.substr(0, length), prefix) ||
          section.find_first_not_of("0123456789", length) != std::string::npos ||
          section.size() - length > 9 || std::stoi(section.substr(length)) <= config::kSlotCount) {
        continue;
      }
      out->push_back(
          {section, "",
           "slot " + section.substr(length) + " is above 12: the service never reads it"});
    }
  }
}

// A count the passes walk by and the release lowers, against the entries
// in use.
void CheckCount(const std::string& section, const char* key, int32_t count, int in_use,
                std::vector<ProfileProblem>* out) {
  if (count > config::kSlotCount) {
    out->push_back({section, key, std::to_string(count) + " is above 12, the slots there are"});
  } else if (count != in_use) {
    out->push_back({section, key,
                    std::to_string(count) + " while " + std::to_string(in_use) +
                        " list entries are in use (schedexe-profile recounts it)"});
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
    if (entry.empty() && events.count(slot)) {
      out.push_back({list, entry_key,
                     "missing or empty while " + section +
                         " yields an event: the slot counts as in use, and no user event "
                         "has the name its firing looks for"});
    }
    if (events.count(slot) && ScheduleConfig::ProfileStateCode(v.state) == schedule::kStateDelete) {
      out.push_back({section, config::kStateKey,
                     "\"Delete\" while " + entry_key +
                         " is still in use: the next pass that handles changes releases the "
                         "slot again and lowers the counts (schedexe-profile settle finishes "
                         "the deletion)"});
    }
    // (A due time that cannot be represented is told with the year.)
    if (events.count(slot) && events[slot]->GetFrequency() == schedule::OneTime &&
        events[slot]->GetNextTime() != -1 && config::InitialPassQueues(events[slot]->GetState()) &&
        schedule::UpcomingFirings(*events[slot], 1).empty()) {
      out.push_back({section, "Frequency",
                     "a One Time event in the past: the service drops it unrun and marks it "
                     "\"Delete\""});
    }
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
  int in_use = 0;
  for (int slot = 1; slot <= config::kSlotCount; ++slot) in_use += snapshot.SlotInUse(slot);
  CheckCount(list, config::kCat2CountKey, snapshot.GetCat2Count(), in_use, &out);
  CheckCount(config::kProfilesSection, config::kProfileCountKey,
             config::ReadProfileInt(file, config::kProfilesSection, config::kProfileCountKey),
             in_use, &out);
  CheckSlotNumbers(file, list, &out);
  // What the passes walk, and what a reload acts on.
  const auto& loaded = snapshot.GetEvents();
  const size_t visits = config::VisitCount(snapshot.GetCat2Count(), loaded.size());
  const bool changed = snapshot.IsChanged();
  bool pending = false;
  for (size_t i = 0; i < loaded.size(); ++i) {
    const std::string& task = loaded[i]->GetTask();
    if (i >= visits) {
      out.push_back({list, config::kCat2CountKey,
                     std::to_string(snapshot.GetCat2Count()) + " leaves out slot " + task +
                         ", in use: the passes never handle its profile"});
      continue;
    }
    const int32_t state = loaded[i]->GetState();
    pending |= config::ReloadPassActsOn(state);
    if (!changed && (state == schedule::kStateAdd || state == schedule::kStateUpdate ||
                     state == schedule::kStateDelete)) {
      out.push_back({list, config::kChangedKey,
                     "not \"True\" while " + std::string(config::kProfileSectionPrefix) + task +
                         " says " + states[task] + ": a reload leaves it alone"});
    }
  }
  if (changed && !pending) {
    out.push_back({list, config::kChangedKey,
                   "\"True\" with no edit pending: every reload runs a full pass "
                   "(schedexe-profile settle resets it)"});
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
