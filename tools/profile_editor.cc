#include "profile_editor.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <optional>
#include <string_view>
#include <vector>

#include "config/cat2_event.h"
#include "config/profile_access.h"
#include "config/synchronisation_passes.h"
#include "dmi/dmi_commands.h"
#include "kvbase/file_update.h"
#include "kvbase/profile.h"
#include "kvbase/profile_edit.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/text.h"
#include "profile_check.h"
#include "schedule/schedule_event.h"

namespace tools {

namespace {

using config::ScheduleConfig;

using config::kActiveWord;
using config::kAddWord;
using config::kDayOfMonthKey;
using config::kDayOfWeekKey;
using config::kDescriptionKey;
using config::kEventModeKey;
using config::kFrequencyKey;
using config::kHourKey;
using config::kMinuteKey;
using config::kMonthKey;
using config::kProfileEntryPrefix;
using config::kResponseCountKey;
using config::kUpdateWord;
using config::kUserChangeableKey;
using config::kYearKey;

constexpr const char* kFieldKeys[] = {kFrequencyKey, kYearKey, kMonthKey, kDayOfMonthKey,
                                      kDayOfWeekKey, kHourKey, kMinuteKey};

// A file that changes under every attempt is being rewritten in a loop;
// the editor gives up rather than spin.
constexpr int kMostAttempts = 50;

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string ProfileSection(int slot) {
  return config::kProfileSectionPrefix + std::to_string(slot);
}

std::string ListKey(int slot) { return config::kCat2EntryPrefix + std::to_string(slot); }

std::string Given(const ProfileFields& fields, const char* key) {
  const auto it = fields.find(key);
  return it == fields.end() ? "" : it->second;
}

bool ParseDecimal(const std::string& text, int32_t* value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const auto [stop, error] = std::from_chars(begin, end, *value);
  return !text.empty() && error == std::errc() && stop == end;
}

std::string LocalMinute(platform::TimeValue t) {
  std::tm tm{};
  char text[80];
  if (!platform::SystemClock().LocalTime(t, &tm)) return std::to_string(t);
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                tm.tm_mday, tm.tm_hour, tm.tm_min);
  return text;
}

// A text the service reads back as written, through its 80-byte buffers.
std::optional<Refusal> CheckText(const char* field, const std::string& text) {
  const std::string why = Unreadable(text, "value");
  if (!why.empty()) return Refusal{field, why};
  if (text.size() >= config::kTextBufferSize) {
    return Refusal{field, std::to_string(text.size()) + " characters: the service reads at most " +
                              std::to_string(config::kTextBufferSize - 1)};
  }
  return std::nullopt;
}

// A text a DmiSetValue command line carries in double quotes as it is.
bool SendableText(const std::string& text) {
  return text.find('"') == std::string::npos && (text.empty() || text.back() != '\\');
}

std::optional<Refusal> CheckName(const std::string& name) {
  if (name.empty()) return Refusal{config::kNameKey, "empty: a profile needs a name"};
  if (ScheduleConfig::IsFreeSlotEntry(name)) {
    return Refusal{config::kNameKey, Quoted(name) + " marks a slot free in the list"};
  }
  if (!SendableText(name)) {
    return Refusal{config::kNameKey,
                   "holds a double quote or ends in a backslash: the DMI tables get their names "
                   "in quotes on a DmiSetValue command line"};
  }
  return CheckText(config::kNameKey, name);
}

// The profile `values` (the file's, with the user's over them) checked as the
// loader will read them; `given` are the keys the user named. On success
// *writes receives the user's values in the file's own spelling.
std::optional<Refusal> CheckProfile(const ProfileFields& values, const ProfileFields& given,
                                    const std::string& section, std::vector<KeyWrite>* writes) {
  for (const auto& [key, value] : given) {
    if (auto refusal = CheckText(key.c_str(), value)) return refusal;
  }
  const std::string word = Given(values, kFrequencyKey);
  const int32_t frequency = ScheduleConfig::ProfileFrequencyCode(word);
  if (frequency == schedule::NotSet) {
    std::string words;
    for (int32_t f = 0; f < schedule::kFrequencyCount; ++f) {
      words += (f ? ", " : "") + ScheduleConfig::ProfileFrequencyWord(f);
    }
    return Refusal{kFrequencyKey,
                   (word.empty() ? std::string("missing") : Quoted(word) + " names no frequency") +
                       ": one of " + words};
  }
  const std::string frequency_word = ScheduleConfig::ProfileFrequencyWord(frequency);
  const schedule::ValuesTaken taken = schedule::ValuesTakenBy(frequency);
  struct Field {
    const char* key;
    const char* what;
    bool taken;
  };
  const Field fields[] = {{kYearKey, "year", taken.year},
                          {kMonthKey, "month", taken.month},
                          {kDayOfMonthKey, "day of the month", taken.day_of_month},
                          {kDayOfWeekKey, "day of the week", taken.day_of_week},
                          {kHourKey, "hour", taken.hour},
                          {kMinuteKey, "minute", taken.minute}};
  std::map<std::string, int32_t> numbers;
  std::map<std::string, std::string> spelled;
  for (const Field& f : fields) {
    const std::string value = Given(values, f.key);
    if (!f.taken) {
      if (given.count(f.key)) {
        return Refusal{f.key, frequency_word + " takes no " + f.what + ": leave it out"};
      }
      continue;
    }
    if (value.empty()) {
      return Refusal{f.key, frequency_word + " takes a " + f.what + ": none given"};
    }
    int32_t number = 0;
    if (std::string_view(f.key) == kMonthKey) {
      number = ScheduleConfig::FindMonthNumber(value);
      if (!number) return Refusal{f.key, Quoted(value) + " names no month: January to December"};
      spelled[f.key] = ScheduleConfig::MonthName(number);
    } else if (std::string_view(f.key) == kDayOfWeekKey) {
      number = ScheduleConfig::FindDayNumber(value);
      if (!number) return Refusal{f.key, Quoted(value) + " names no weekday: Sunday to Saturday"};
      spelled[f.key] = schedule::kDayNames[number - 1];
    } else {
      if (!ParseDecimal(value, &number)) {
        return Refusal{f.key, Quoted(value) + " is not a decimal number"};
      }
      spelled[f.key] = std::to_string(number);
    }
    numbers[f.key] = number;
  }
  auto number = [&](const char* key) { return numbers.count(key) ? numbers[key] : -1; };
  for (const schedule::RolledValue& r :
       schedule::RolledOverValues(frequency, number(kYearKey), number(kMonthKey),
                                  number(kDayOfMonthKey), number(kHourKey), number(kMinuteKey))) {
    const char* keys[] = {kYearKey, kDayOfMonthKey, kHourKey, kMinuteKey};
    const std::string rule =
        r.field == schedule::RolledValue::kYear
            ? "the date cannot be represented: years " + std::to_string(r.low) + " to " +
                  std::to_string(r.high)
            : "out of range " + std::to_string(r.low) + " to " + std::to_string(r.high);
    return Refusal{keys[r.field], std::to_string(r.given) + " is " + rule};
  }
  schedule::ScheduleEvent event;
  event.SetUp(frequency, "0", number(kYearKey), number(kMonthKey), number(kDayOfMonthKey),
              number(kDayOfWeekKey), number(kHourKey), number(kMinuteKey));
  if (frequency == schedule::OneTime && schedule::UpcomingFirings(event, 1).empty()) {
    return Refusal{
        "Year/Month/DayOfMonth/Hour/Minute",
        LocalMinute(event.GetNextTime()) + " has passed: a One Time event must lie ahead"};
  }
  if (given.count(kFrequencyKey)) writes->push_back({section, kFrequencyKey, frequency_word});
  for (const auto& [key, value] : spelled) {
    if (given.count(key)) writes->push_back({section, key, value});
  }
  return std::nullopt;
}

ProfileFields FileValues(const ScheduleConfig& snapshot, int slot) {
  const ScheduleConfig::ProfileValues v = snapshot.ReadProfileValues(slot);
  ProfileFields fields = {
      {kFrequencyKey, v.frequency}, {kMonthKey, v.month}, {kDayOfWeekKey, v.day_of_week}};
  // A number the file lacks stays missing rather than read as 0.
  const std::string section = ProfileSection(slot);
  for (const char* key : {kYearKey, kDayOfMonthKey, kHourKey, kMinuteKey}) {
    const std::string text = config::ReadProfileText(snapshot.GetDataFile(), section, key);
    if (!text.empty()) {
      fields[key] = std::to_string(config::ReadProfileInt(snapshot.GetDataFile(), section, key));
    }
  }
  return fields;
}

std::string StateText(const ScheduleConfig& snapshot, int slot) {
  return config::ReadProfileText(snapshot.GetDataFile(), ProfileSection(slot), config::kStateKey);
}

// An active profile the running service should hold but does not: one that
// a start would queue and that has a firing ahead (irregular events and
// passed one-time events never stay queued).
bool ActiveButNotQueued(const schedule::ScheduleEvent& e, const std::set<std::string>* queued) {
  return queued && e.GetState() == schedule::kStateActive && !queued->count(e.GetTask()) &&
         !schedule::UpcomingFirings(e, 1).empty();
}

// A state the pass acts on and that the editor can finish: a deletion whose
// release finds no slot is never released.
bool LeftForPass(const ScheduleConfig& snapshot, const schedule::ScheduleEvent& e) {
  if (!config::ReloadPassActsOn(e.GetState())) return false;
  return e.GetState() != schedule::kStateDelete ||
         snapshot.FindCat2Number(snapshot.ProfileName(e.GetTask())) != 0;
}

}  // namespace

std::optional<std::string> ProfileFieldKey(const std::string& given) {
  for (const char* key : kFieldKeys) {
    if (platform::EqualsIgnoreCase(given, key)) return std::string(key);
  }
  return std::nullopt;
}

int FreeSlot(const ScheduleConfig& snapshot) {
  for (int slot = 1; slot <= config::kSlotCount; ++slot) {
    if (!snapshot.SlotInUse(slot)) return slot;
  }
  return 0;
}

int SlotsInUse(const ScheduleConfig& snapshot) {
  int count = 0;
  for (int slot = 1; slot <= config::kSlotCount; ++slot) count += snapshot.SlotInUse(slot);
  return count;
}

EditPlan PlanEdit(ScheduleConfig& snapshot, const EditRequest& request) {
  EditPlan plan;
  auto refuse = [&](std::string field, std::string rule) {
    plan.refusal = Refusal{std::move(field), std::move(rule)};
    plan.writes.clear();
    return plan;
  };
  if (snapshot.GetCategoryKey() != kEditedCategoryKey) {
    return refuse(
        std::string(config::kCategoriesSection) + " " + kEditedCategoryKey,
        Quoted(config::kUserAlarmsCategory) + " is " +
            (snapshot.GetCategoryKey().empty() ? std::string("not listed")
                                               : "listed as " + snapshot.GetCategoryKey()) +
            ", not as " + kEditedCategoryKey + ": a release always writes the counts of " +
            Quoted(config::kUserAlarmList) + " while the loader reads the category's own list");
  }
  if (auto refusal = CheckName(request.name)) return refuse(refusal->field, refusal->rule);
  const int found = snapshot.FindCat2Number(request.name);
  if (request.kind == EditKind::kAdd) {
    if (found) {
      return refuse(config::kNameKey, Quoted(request.name) + " is in the list already, as slot " +
                                          std::to_string(found) +
                                          " (names compare without regard to case)");
    }
    plan.slot = FreeSlot(snapshot);
    if (!plan.slot) {
      return refuse(config::kUserAlarmList,
                    "no free slot: no entry of Cat2:1 to Cat2:12 reads \"Unused\" or \"!Unused!\" "
                    "(a missing or empty entry counts as in use)");
    }
    const std::string section = ProfileSection(plan.slot);
    const std::string record = config::kCat2SectionPrefix + std::to_string(plan.slot);
    if (auto refusal = CheckProfile(request.fields, request.fields, section, &plan.writes)) {
      return refuse(refusal->field, refusal->rule);
    }
    // What an earlier profile of the slot left goes first.
    std::vector<KeyWrite> writes = {
        {section, "", ""},
        {record, "", ""},
        {config::kUserAlarmList, ListKey(plan.slot), request.name},
        {config::kProfilesSection, kProfileEntryPrefix + std::to_string(plan.slot), request.name},
        {section, config::kNameKey, request.name}};
    writes.insert(writes.end(), plan.writes.begin(), plan.writes.end());
    writes.push_back({section, config::kStateKey, kAddWord});
    writes.push_back({record, kDescriptionKey, request.name});
    writes.push_back({record, kEventModeKey, kFreshEventMode});
    writes.push_back({record, config::kEventStatusKey, kFreshEventStatus});
    writes.push_back({record, kUserChangeableKey, kFreshUserChangeable});
    writes.push_back({record, kResponseCountKey, "0"});
    for (int k = 1; k <= config::kResponseSlots; ++k) {
      writes.push_back({record, std::to_string(k), config::kUnusedWord});
    }
    plan.writes = std::move(writes);
    return plan;
  }
  if (!found) {
    return refuse(config::kNameKey, "no profile is named " + Quoted(request.name) + " in " +
                                        Quoted(config::kUserAlarmList));
  }
  plan.slot = found;
  const std::string section = ProfileSection(found);
  const std::string profile_name = snapshot.ProfileName(std::to_string(found));
  if (!platform::EqualsIgnoreCase(profile_name, request.name)) {
    return refuse(section + " " + config::kNameKey,
                  Quoted(profile_name) + " is not the list's " + Quoted(request.name) +
                      ": its firing and release would not find the slot");
  }
  if (ScheduleConfig::ProfileStateCode(StateText(snapshot, found)) == schedule::kStateDelete) {
    return refuse(section + " " + config::kStateKey,
                  "\"Delete\": the profile is being deleted; `settle` finishes it");
  }
  if (request.kind == EditKind::kDelete) {
    plan.writes.push_back({section, config::kStateKey, config::kDeleteWord});
    return plan;
  }
  if (request.fields.empty()) return refuse("FIELD=VALUE", "nothing to change");
  ProfileFields values = FileValues(snapshot, found);
  for (const auto& [key, value] : request.fields) values[key] = value;
  if (auto refusal = CheckProfile(values, request.fields, section, &plan.writes)) {
    return refuse(refusal->field, refusal->rule);
  }
  plan.writes.push_back({section, config::kStateKey, kUpdateWord});
  return plan;
}

std::vector<KeyWrite> FirstHalfWrites(const ScheduleConfig& snapshot, const EditPlan& edit,
                                      const std::set<std::string>* queued) {
  const int in_use = SlotsInUse(snapshot) + (edit.slot && !snapshot.SlotInUse(edit.slot));
  std::vector<KeyWrite> writes = {
      {config::kUserAlarmList, config::kCat2CountKey, std::to_string(in_use)},
      {config::kProfilesSection, config::kProfileCountKey, std::to_string(in_use)},
      {config::kUserAlarmList, config::kChangedKey, config::kTrueWord}};
  for (const auto& e : snapshot.GetEvents()) {
    if (e->GetTask() != std::to_string(edit.slot) && ActiveButNotQueued(*e, queued)) {
      writes.push_back(
          {config::kProfileSectionPrefix + e->GetTask(), config::kStateKey, kUpdateWord});
    }
  }
  return writes;
}

bool NeedsPass(const ScheduleConfig& snapshot, const std::set<std::string>* queued) {
  for (const auto& e : snapshot.GetEvents()) {
    if (LeftForPass(snapshot, *e) || ActiveButNotQueued(*e, queued)) return true;
  }
  return false;
}

std::map<int, Handled> HandledByPass(ScheduleConfig& snapshot) {
  std::map<int, Handled> handled;
  const auto& events = snapshot.GetEvents();
  const size_t visits = config::VisitedEvents(snapshot);
  for (size_t i = 0; i < visits; ++i) {
    const schedule::ScheduleEvent& e = *events[i];
    if (!config::ReloadPassActsOn(e.GetState())) continue;
    Handled h;
    h.state = e.GetState();
    if (h.state == schedule::kStateDelete) {
      h.released = snapshot.FindCat2Number(snapshot.ProfileName(e.GetTask()));
      if (h.released) h.entry = snapshot.ListEntry(h.released);
    }
    handled[std::stoi(e.GetTask())] = h;
  }
  return handled;
}

std::vector<KeyWrite> SecondHalfWrites(const ScheduleConfig& now,
                                       const std::map<int, Handled>& handled,
                                       std::set<int>* touched) {
  std::vector<KeyWrite> writes;
  std::set<int> freed, finished;
  for (const auto& [slot, h] : handled) {
    if (h.state == schedule::kStateDelete) {
      const std::string entry = h.released ? now.ListEntry(h.released) : "";
      // Only the entry the pass released: a slot taken again since is not.
      if (!h.released || entry != h.entry || ScheduleConfig::IsFreeSlotEntry(entry)) continue;
      writes.push_back({config::kUserAlarmList, ListKey(h.released), config::kUnusedWord});
      writes.push_back({config::kProfilesSection, kProfileEntryPrefix + std::to_string(h.released),
                        config::kUnusedWord});
      freed.insert(h.released);
    } else if (now.SlotInUse(slot) &&
               ScheduleConfig::ProfileStateCode(StateText(now, slot)) == h.state) {
      writes.push_back({ProfileSection(slot), config::kStateKey, kActiveWord});
      finished.insert(slot);
    }
  }
  const int in_use = SlotsInUse(now) - static_cast<int>(freed.size());
  writes.push_back({config::kUserAlarmList, config::kCat2CountKey, std::to_string(in_use)});
  writes.push_back({config::kProfilesSection, config::kProfileCountKey, std::to_string(in_use)});
  bool left = false;
  for (const auto& e : now.GetEvents()) {
    const int slot = std::stoi(e->GetTask());
    left |= !freed.count(slot) && !finished.count(slot) && LeftForPass(now, *e);
  }
  if (!left) writes.push_back({config::kUserAlarmList, config::kChangedKey, "False"});
  if (touched) {
    touched->insert(freed.begin(), freed.end());
    touched->insert(finished.begin(), finished.end());
  }
  return writes;
}

std::vector<std::string> MirrorCommands(const ScheduleConfig& now, const std::set<int>& slots) {
  std::vector<std::string> commands;
  auto send = [&](std::string command, const std::string& value) {
    if (SendableText(value)) commands.push_back(std::move(command));
  };
  const std::string& file = now.GetDataFile();
  for (int slot : slots) {
    const std::string task = std::to_string(slot);
    const std::string name = now.SlotInUse(slot) ? now.ProfileName(task) : now.ListEntry(slot);
    send(dmi::ProfileTableTextCommand(slot, dmi::kProfileNameAttribute, name), name);
    if (now.SlotInUse(slot)) {
      const ScheduleConfig::ProfileValues v = now.ReadProfileValues(slot);
      const int32_t frequency = ScheduleConfig::ProfileFrequencyCode(v.frequency);
      const schedule::ValuesTaken taken = schedule::ValuesTakenBy(frequency);
      const std::string day = taken.day_of_week    ? v.day_of_week
                              : taken.day_of_month ? std::to_string(v.day_of_month)
                                                   : "0";
      const std::pair<int, std::string> fields[] = {
          {dmi::kProfileFrequencyAttribute, v.frequency},
          {dmi::kProfileHourAttribute, std::to_string(v.hour)},
          {dmi::kProfileMinuteAttribute, std::to_string(v.minute)},
          {dmi::kProfileDayAttribute, day}};
      for (const auto& [attribute, value] : fields) {
        send(dmi::ProfileTableTextCommand(slot, attribute, value), value);
      }
    }
    const std::string profile_entry =
        config::ReadProfileText(file, config::kProfilesSection, kProfileEntryPrefix + task);
    send(dmi::ProfileListEntryCommand(slot, profile_entry), profile_entry);
    send(dmi::Cat2ListEntryCommand(slot, now.ListEntry(slot)), now.ListEntry(slot));
    send(dmi::Cat2NameCommand(slot, name), name);
  }
  commands.push_back(dmi::Cat2ListCountCommand(
      config::ReadProfileInt(file, config::kUserAlarmList, config::kCat2CountKey)));
  commands.push_back(dmi::ProfileCountCommand(
      config::ReadProfileInt(file, config::kProfilesSection, config::kProfileCountKey)));
  return commands;
}

std::string ReadFailureText(const std::string& native, platform::FileStatus status) {
  const uint32_t code = platform::LastOsError();
  if (status == platform::FileStatus::kMissing) return native + ": no such file";
  // No OS error: the path names no regular file (a folder, a pipe, a device).
  return "cannot read " + native + ": " +
         (code ? platform::OsErrorText(code) : "not a regular file");
}

bool UpdateProfileFile(const std::string& file, const UpdatePlan& plan, std::string* error) {
  const std::string native = platform::NativePath(file);
  for (int attempt = 0; attempt < kMostAttempts; ++attempt) {
    std::string before, after;
    const platform::FileStatus status = platform::ReadFileContents(native, &before, nullptr);
    if (status != platform::FileStatus::kOk) {
      *error = ReadFailureText(native, status);
      return false;
    }
    ScheduleConfig snapshot(nullptr, file);
    // The snapshot must be of exactly these bytes.
    if (platform::ReadFileContents(native, &after, nullptr) != platform::FileStatus::kOk ||
        after != before) {
      continue;
    }
    std::vector<KeyWrite> writes;
    if (!plan(snapshot, &writes)) return true;
    bool stale = false;
    const bool done = kvbase::UpdateFileLocked(
        native,
        [&](const std::string& current, bool exists, std::string* replacement) {
          if (!exists || current != before) {
            stale = true;
            return false;
          }
          std::vector<kvbase::ProfileChange> changes;
          changes.reserve(writes.size());
          for (const KeyWrite& w : writes) {
            changes.push_back(w.key.empty()
                                  ? kvbase::ProfileChange::DeleteSection(w.section)
                                  : kvbase::ProfileChange::SetKey(w.section, w.key, w.value));
          }
          std::optional<std::string> edited =
              kvbase::ApplyProfileChanges(current, changes, platform::NativeLineEnd());
          if (!edited) return false;
          *replacement = std::move(*edited);
          return true;
        },
        error);
    if (!done) return false;
    if (!stale) return true;
  }
  *error = native + " kept changing while it was edited; nothing was written";
  return false;
}

bool WriteFirstHalf(const std::string& file, const EditRequest* request,
                    const std::set<std::string>* queued, std::optional<Refusal>* refusal,
                    std::string* error) {
  return UpdateProfileFile(
      file,
      [&](ScheduleConfig& snapshot, std::vector<KeyWrite>* writes) {
        EditPlan plan;
        if (request) plan = PlanEdit(snapshot, *request);
        *refusal = plan.refusal;
        if (plan.refusal) return false;
        *writes = std::move(plan.writes);
        for (KeyWrite& w : FirstHalfWrites(snapshot, plan, queued)) writes->push_back(std::move(w));
        return true;
      },
      error);
}

bool WriteSecondHalf(const std::string& file, const std::map<int, Handled>& handled,
                     std::set<int>* touched, std::string* error) {
  return UpdateProfileFile(
      file,
      [&](ScheduleConfig& now, std::vector<KeyWrite>* writes) {
        if (touched) touched->clear();
        *writes = SecondHalfWrites(now, handled, touched);
        return true;
      },
      error);
}

}  // namespace tools
