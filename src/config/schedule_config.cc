#include "config/schedule_config.h"

#include <cstdint>
#include <set>
#include <utility>

#include "config/data_file_path.h"
#include "config/profile_access.h"
#include "dmi/command_runner.h"
#include "dmi/dmi_commands.h"
#include "platform/file.h"
#include "platform/log.h"
#include "platform/text.h"

namespace config {

namespace {

constexpr const char* kMonthNames[] = {"January",   "February", "March",    "April",
                                       "May",       "June",     "July",     "August",
                                       "September", "October",  "November", "December"};

// The frequencies by code, as scheduler profiles name them.
constexpr const char* kProfileFrequencyWords[schedule::kFrequencyCount] = {
    "One Time", "Hourly", "Daily", "Weekly", "Monthly", "Yearly", "Irregular"};

// State words in the order they are tried.
struct Word {
  const char* text;
  int32_t code;
};
constexpr Word kStateWords[] = {{kAddWord, schedule::kStateAdd},
                                {kActiveWord, schedule::kStateActive},
                                {kDeleteWord, schedule::kStateDelete},
                                {kUpdateWord, schedule::kStateUpdate}};

// 1 to N, or 0 for a name that matches none.
template <size_t N>
int32_t FindNumber(const std::string& name, const char* const (&names)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (platform::EqualsIgnoreCase(name, names[i])) return static_cast<int32_t>(i + 1);
  }
  return 0;
}

std::string ProfileSection(const std::string& slot) { return kProfileSectionPrefix + slot; }

}  // namespace

ScheduleConfig::ScheduleConfig(LiveQueue* owner) : ScheduleConfig(owner, ReadDataFilePath()) {}

ScheduleConfig::ScheduleConfig(LiveQueue* owner, std::string file)
    : host(owner), dataFile(std::move(file)) {
  LoadCategory(kUserAlarmsCategory);
  LoadCat2Count();
  LoadProfiles();
}

void ScheduleConfig::LoadCategory(const std::string& categoryName) {
  // The lowest k in 1..count whose "EventCat" k names the category. Only keys
  // that exist are read: every other k reads "", and the first of those
  // stands for them all, so a garbled count costs nothing.
  const int count = ReadProfileInt(dataFile, kCategoriesSection, kCategoryCountKey);
  const std::set<int> listed =
      ListedKeyNumbers(dataFile, kCategoriesSection, kCategoryKeyPrefix, count);
  int64_t missing = 1;
  while (listed.count(static_cast<int>(missing))) ++missing;
  const bool missing_matches = missing <= count && platform::EqualsIgnoreCase("", categoryName);
  for (int k : listed) {
    if (missing_matches && missing < k) break;
    const std::string key = kCategoryKeyPrefix + std::to_string(k);
    if (platform::EqualsIgnoreCase(ReadProfileText(dataFile, kCategoriesSection, key),
                                   categoryName)) {
      categoryKey = key;
      return;
    }
  }
  if (missing_matches) categoryKey = kCategoryKeyPrefix + std::to_string(missing);
}

void ScheduleConfig::LoadCat2Count() {
  cat2Count = ReadProfileInt(dataFile, ListSection(), kCat2CountKey);
}

bool ScheduleConfig::IsChanged() {
  return platform::EqualsIgnoreCase(ReadProfileText(dataFile, ListSection(), kChangedKey),
                                    kTrueWord);
}

void ScheduleConfig::ResetChanged() { dmi::RunAgentCommand(dmi::Cat2ListUnchangedCommand()); }

std::string ScheduleConfig::ListEntry(int slot) const {
  return ReadProfileText(dataFile, ListSection(), kCat2EntryPrefix + std::to_string(slot));
}

bool ScheduleConfig::IsFreeSlotEntry(const std::string& entry) {
  return platform::EqualsIgnoreCase(entry, kUnusedWord) ||
         platform::EqualsIgnoreCase(entry, kUnusedMarkedWord);
}

ScheduleConfig::ProfileValues ScheduleConfig::ReadProfileValues(int slot) const {
  const std::string section = ProfileSection(std::to_string(slot));
  // In this order, as the profile is read.
  ProfileValues v;
  v.frequency = ReadProfileText(dataFile, section, kFrequencyKey);
  v.year = ReadProfileInt(dataFile, section, kYearKey);
  v.month = ReadProfileText(dataFile, section, kMonthKey);
  v.day_of_month = ReadProfileInt(dataFile, section, kDayOfMonthKey);
  v.day_of_week = ReadProfileText(dataFile, section, kDayOfWeekKey);
  v.hour = ReadProfileInt(dataFile, section, kHourKey);
  v.minute = ReadProfileInt(dataFile, section, kMinuteKey);
  v.state = ReadProfileText(dataFile, section, kStateKey);
  return v;
}

int32_t ScheduleConfig::ProfileFrequencyCode(const std::string& word) {
  return schedule::FrequencyFromWord(word, kProfileFrequencyWords);
}

std::string ScheduleConfig::ProfileFrequencyWord(int32_t code) {
  return code >= 0 && code < schedule::kFrequencyCount ? kProfileFrequencyWords[code] : "";
}

std::string ScheduleConfig::MonthName(int32_t month) {
  return month >= 1 && month <= 12 ? kMonthNames[month - 1] : "";
}

int32_t ScheduleConfig::ProfileStateCode(const std::string& word) {
  for (const Word& w : kStateWords) {
    if (platform::EqualsIgnoreCase(word, w.text)) return w.code;
  }
  return schedule::kStateNone;
}

void ScheduleConfig::LoadProfiles() {
  const bool noting = platform::LogEnabled(platform::LogLevel::kWarning);
  auto note = [&](int slot, const std::string& why) {
    skip_notes_.push_back("slot " + std::to_string(slot) + " (" +
                          ProfileSection(std::to_string(slot)) + "): " + why);
  };
  // Without the category every slot reads as empty: one note says why. A
  // data file that cannot be read at all is said once by the read itself.
  platform::FileStamp stamp;
  if (noting && categoryKey.empty() && !dataFile.empty() &&
      platform::StatFile(platform::NativePath(dataFile), &stamp) == platform::FileStatus::kOk) {
    skip_notes_.push_back(std::string("the data file names no category \"") + kUserAlarmsCategory +
                          "\" under [" + kCategoriesSection + "]; no profile is scheduled");
  }
  const bool noting_slots = noting && !categoryKey.empty();
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const std::string entry = ListEntry(slot);
    if (IsFreeSlotEntry(entry)) {
      // Only a profile that asks to be scheduled is worth a word: not one
      // left at "Delete" by the release that freed its slot.
      const std::string section = ProfileSection(std::to_string(slot));
      if (noting_slots && !ReadProfileText(dataFile, section, kFrequencyKey).empty() &&
          !platform::EqualsIgnoreCase(ReadProfileText(dataFile, section, kStateKey), kDeleteWord)) {
        note(slot, std::string("skipped: its entry in [")
                       .append(ListSection())
                       .append("] reads \"")
                       .append(entry)
                       .append("\""));
      }
      continue;
    }
    const ProfileValues v = ReadProfileValues(slot);
    auto event = std::make_unique<schedule::ScheduleEvent>();
    event->SetSourceFile(dataFile);
    const int32_t state = ProfileStateCode(v.state);
    event->SetState(state);
    // A word that names no frequency: the slot yields no event.
    if (!event->SetUp(ProfileFrequencyCode(v.frequency), std::to_string(slot), v.year,
                      MonthNumberFromName(v.month), v.day_of_month,
                      DayNumberFromName(v.day_of_week), v.hour, v.minute)) {
      if (noting_slots) note(slot, "skipped: Frequency \"" + v.frequency + "\" names no frequency");
      continue;
    }
    if (noting_slots && state == schedule::kStateNone) {
      note(slot, "left alone: State \"" + v.state + "\" is none of Add, Active, Update, Delete");
    }
    events.push_back(std::move(event));
  }
}

int32_t ScheduleConfig::FindDayNumber(const std::string& name) {
  return FindNumber(name, schedule::kDayNames);
}

int32_t ScheduleConfig::FindMonthNumber(const std::string& name) {
  return FindNumber(name, kMonthNames);
}

bool ScheduleConfig::SlotInUse(int slot) const { return !IsFreeSlotEntry(ListEntry(slot)); }

int32_t ScheduleConfig::DayNumberFromName(const std::string& name) {
  const int32_t day = FindDayNumber(name);
  return day ? day : 1;
}

int32_t ScheduleConfig::MonthNumberFromName(const std::string& name) {
  const int32_t month = FindMonthNumber(name);
  return month ? month : 1;
}

std::string ScheduleConfig::ProfileText(const std::string& task, const char* key) const {
  return ReadProfileText(dataFile, ProfileSection(task), key);
}

std::string ScheduleConfig::ProfileName(const std::string& task) const {
  return ProfileText(task, kNameKey);
}

}  // namespace config
