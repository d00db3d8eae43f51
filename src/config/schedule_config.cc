#include "config/schedule_config.h"

#include <cstdint>
#include <set>

#include "config/data_file_path.h"
#include "config/profile_access.h"
#include "dmi/command_runner.h"
#include "dmi/dmi_commands.h"
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
constexpr Word kStateWords[] = {{"Add", schedule::kStateAdd},
                                {"Active", schedule::kStateActive},
                                {kDeleteWord, schedule::kStateDelete},
                                {"Update", schedule::kStateUpdate}};

template <size_t N>
int32_t NumberFromName(const std::string& name, const char* const (&names)[N]) {
  for (size_t i = 0; i < N; ++i) {
    if (platform::EqualsIgnoreCase(name, names[i])) return static_cast<int32_t>(i + 1);
  }
  return 1;
}

std::string ProfileSection(const std::string& slot) { return kProfileSectionPrefix + slot; }

}  // namespace

ScheduleConfig::ScheduleConfig(LiveQueue* owner) : host(owner), dataFile(ReadDataFilePath()) {
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

void ScheduleConfig::LoadProfiles() {
  const std::string list = ListSection();
  const bool noting = platform::LogEnabled(platform::LogLevel::kWarning);
  auto note = [&](int slot, const std::string& why) {
    skip_notes_.push_back("slot " + std::to_string(slot) + " (" +
                          ProfileSection(std::to_string(slot)) + "): " + why);
  };
  // Without the category every slot reads as empty: one note says why.
  if (noting && categoryKey.empty()) {
    skip_notes_.push_back(std::string("the data file names no category \"") + kUserAlarmsCategory +
                          "\" under [" + kCategoriesSection + "]; no profile is scheduled");
  }
  const bool noting_slots = noting && !categoryKey.empty();
  for (int slot = 1; slot <= kSlotCount; ++slot) {
    const std::string entry =
        ReadProfileText(dataFile, list, kCat2EntryPrefix + std::to_string(slot));
    if (platform::EqualsIgnoreCase(entry, kUnusedWord) ||
        platform::EqualsIgnoreCase(entry, kUnusedMarkedWord)) {
      // Only a profile that asks to be scheduled is worth a word.
      const std::string frequency =
          noting_slots
              ? ReadProfileText(dataFile, ProfileSection(std::to_string(slot)), "Frequency")
              : "";
      if (!frequency.empty()) {
        note(slot, std::string("skipped: its entry in [")
                       .append(list)
                       .append("] reads \"")
                       .append(entry)
                       .append("\""));
      }
      continue;
    }
    const std::string task = std::to_string(slot);
    const std::string section = ProfileSection(task);
    const std::string frequency = ReadProfileText(dataFile, section, "Frequency");
    const int32_t year = ReadProfileInt(dataFile, section, "Year");
    const int32_t month = MonthNumberFromName(ReadProfileText(dataFile, section, "Month"));
    const int32_t day = ReadProfileInt(dataFile, section, "DayOfMonth");
    const int32_t weekday = DayNumberFromName(ReadProfileText(dataFile, section, "DayOfWeek"));
    const int32_t hour = ReadProfileInt(dataFile, section, "Hour");
    const int32_t minute = ReadProfileInt(dataFile, section, "Minute");
    const std::string state = ReadProfileText(dataFile, section, kStateKey);

    auto event = std::make_unique<schedule::ScheduleEvent>();
    event->SetSourceFile(dataFile);
    bool known_state = false;
    for (const Word& w : kStateWords) {
      if (platform::EqualsIgnoreCase(state, w.text)) {
        event->SetState(w.code);
        known_state = true;
        break;
      }
    }
    const int32_t code = schedule::FrequencyFromWord(frequency, kProfileFrequencyWords);
    // A word that names no frequency: the slot yields no event.
    if (!event->SetUp(code, task, year, month, day, weekday, hour, minute)) {
      if (noting_slots) note(slot, "skipped: Frequency \"" + frequency + "\" names no frequency");
      continue;
    }
    if (noting_slots && !known_state) {
      note(slot, "left alone: State \"" + state + "\" is none of Add, Active, Update, Delete");
    }
    events.push_back(std::move(event));
  }
}

int32_t ScheduleConfig::DayNumberFromName(const std::string& name) {
  return NumberFromName(name, schedule::kDayNames);
}

int32_t ScheduleConfig::MonthNumberFromName(const std::string& name) {
  return NumberFromName(name, kMonthNames);
}

std::string ScheduleConfig::ProfileText(const std::string& task, const char* key) const {
  return ReadProfileText(dataFile, ProfileSection(task), key);
}

std::string ScheduleConfig::ProfileName(const std::string& task) const {
  return ProfileText(task, kNameKey);
}

}  // namespace config
