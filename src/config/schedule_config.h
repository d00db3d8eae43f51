// A snapshot of the scheduler's configuration, read afresh from the data
// file: the user-alarm category, its slot count, and one schedule event per
// slot in use. One is made per synchronisation pass and per fired event.
#ifndef SCHEDEXE_CONFIG_SCHEDULE_CONFIG_H_
#define SCHEDEXE_CONFIG_SCHEDULE_CONFIG_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "config/live_queue.h"
#include "config/profile_access.h"
#include "schedule/schedule_event.h"

namespace config {

inline constexpr int kSlotCount = 12;
inline constexpr char kUserAlarmsCategory[] = "User Alarms";

class ScheduleConfig {
 public:
  explicit ScheduleConfig(LiveQueue* host);
  // The same snapshot of the data file given, not of the one the registry
  // names.
  ScheduleConfig(LiveQueue* host, std::string dataFile);
  virtual ~ScheduleConfig() = default;
  ScheduleConfig(const ScheduleConfig&) = delete;
  ScheduleConfig& operator=(const ScheduleConfig&) = delete;

  // Categories and the user-alarm list.
  void LoadCategory(const std::string& categoryName);
  void LoadCat2Count();
  bool IsChanged();
  void ResetChanged();

  // Reads the twelve slots into the event list, in slot order.
  void LoadProfiles();
  // Whether slot 1..12 is in use (its list entry is not "Unused").
  bool SlotInUse(int slot) const;

  // Weekday 1 (Sunday) to 7 and month 1 to 12 from their English names; a
  // name that matches none gives 1.
  static int32_t DayNumberFromName(const std::string& name);
  static int32_t MonthNumberFromName(const std::string& name);

  // How the loader takes the words and values of the file, for it and for
  // checkers of the file alike. Day and month: 0 for a name that matches none.
  static int32_t FindDayNumber(const std::string& name);
  static int32_t FindMonthNumber(const std::string& name);
  // A list entry that marks its slot free ("Unused", "!Unused!").
  static bool IsFreeSlotEntry(const std::string& entry);
  // A "Frequency" word's code, NotSet for none; a "State" word's code,
  // kStateNone for none.
  static int32_t ProfileFrequencyCode(const std::string& word);
  // The word the file spells a frequency code (0 to 6) with, and a month
  // (1 to 12) by its name; "" for any other number.
  static std::string ProfileFrequencyWord(int32_t code);
  static std::string MonthName(int32_t month);
  static int32_t ProfileStateCode(const std::string& word);
  // The list entry "Cat2:" slot, as read.
  std::string ListEntry(int slot) const;
  // A slot's profile as read, before any word becomes a code.
  struct ProfileValues {
    std::string frequency;
    int32_t year;
    std::string month;
    int32_t day_of_month;
    std::string day_of_week;
    int32_t hour;
    int32_t minute;
    std::string state;
  };
  ProfileValues ReadProfileValues(int slot) const;

  // The Cat2 list and scheduler-profile table upkeep of the slots, defined
  // in table_upkeep.cc.
  int32_t FindCat2Number(const std::string& name) const;
  // The "Name" of a slot's scheduler profile: the key to its list entry.
  std::string ProfileName(const std::string& task) const;
  void MarkCat2Fired(const schedule::ScheduleEvent& event);
  void ReleaseDeletedProfile(const std::string& task);
  void ResetCat2Record(int32_t n);
  void ReleaseCat2ListEntry(int32_t n);
  void ReleaseProfileListEntry(int32_t n);

  int32_t GetCat2Count() const { return cat2Count; }
  const std::string& GetCategoryKey() const { return categoryKey; }
  const std::string& GetDataFile() const { return dataFile; }
  LiveQueue* GetHost() const { return host; }
  const std::vector<std::unique_ptr<schedule::ScheduleEvent>>& GetEvents() const { return events; }
  // Why slots yielded no event or will be left alone, one text each, for
  // the passes to log (gathered only while warnings are logged).
  const std::vector<std::string>& GetSkipNotes() const { return skip_notes_; }

 private:
  std::string ListSection() const { return categoryKey + kListSectionSuffix; }
  std::string ProfileText(const std::string& task, const char* key) const;

  int32_t cat2Count = 0;
  std::string categoryKey;
  // The snapshot's own events, in slot order; the live queue gets copies.
  std::vector<std::unique_ptr<schedule::ScheduleEvent>> events;
  LiveQueue* host;
  std::string dataFile;
  std::vector<std::string> skip_notes_;
};

}  // namespace config

#endif  // SCHEDEXE_CONFIG_SCHEDULE_CONFIG_H_
