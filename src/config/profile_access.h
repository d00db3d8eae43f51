// Reading and writing the data file the way every part of the configuration
// store does: texts through an 80-byte buffer, numbers as the profile
// functions parse them.
#ifndef SCHEDEXE_CONFIG_PROFILE_ACCESS_H_
#define SCHEDEXE_CONFIG_PROFILE_ACCESS_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace config {

// Texts are seen through buffers of this size: at most 79 characters.
inline constexpr int kTextBufferSize = 80;

// Section and key names of the data file.
inline constexpr char kCategoriesSection[] = "TARN Event Categories";
inline constexpr char kCategoryCountKey[] = "Number of Categories";
inline constexpr char kCategoryKeyPrefix[] = "EventCat";
inline constexpr char kListSectionSuffix[] = " List";
inline constexpr char kCat2CountKey[] = "Number of Cat2 Events";
inline constexpr char kChangedKey[] = "Changed";
inline constexpr char kCat2EntryPrefix[] = "Cat2:";
inline constexpr char kUserAlarmList[] = "EventCat2 List";
inline constexpr char kProfileSectionPrefix[] = "Scheduler Profile ";
inline constexpr char kProfilesSection[] = "Scheduler Profiles";
inline constexpr char kProfileCountKey[] = "Number of Profiles";
inline constexpr char kCat2SectionPrefix[] = "Event Cat2:";
inline constexpr char kUnusedWord[] = "Unused";
inline constexpr char kUnusedMarkedWord[] = "!Unused!";
inline constexpr char kTrueWord[] = "True";
// Keys of a scheduler profile and of a user event record, and the state
// words.
inline constexpr char kNameKey[] = "Name";
inline constexpr char kFrequencyKey[] = "Frequency";
inline constexpr char kYearKey[] = "Year";
inline constexpr char kMonthKey[] = "Month";
inline constexpr char kDayOfMonthKey[] = "DayOfMonth";
inline constexpr char kDayOfWeekKey[] = "DayOfWeek";
inline constexpr char kHourKey[] = "Hour";
inline constexpr char kMinuteKey[] = "Minute";
inline constexpr char kStateKey[] = "State";
inline constexpr char kAddWord[] = "Add";
inline constexpr char kActiveWord[] = "Active";
inline constexpr char kDeleteWord[] = "Delete";
inline constexpr char kUpdateWord[] = "Update";
inline constexpr char kEventStatusKey[] = "Event Status";
inline constexpr char kDescriptionKey[] = "Description";
inline constexpr char kEventModeKey[] = "Event Mode";
inline constexpr char kUserChangeableKey[] = "User Changable";
inline constexpr char kResponseCountKey[] = "Number of Responses";
// The "Scheduler Profiles" entry of slot n: "Profile " n.
inline constexpr char kProfileEntryPrefix[] = "Profile ";

// The value of the key, or "" when missing; cut to size-1 characters.
std::string ReadProfileText(const std::string& file, const std::string& section,
                            const std::string& key, int size = kTextBufferSize);
// The value as a number, 0 when missing.
int ReadProfileInt(const std::string& file, const std::string& section, const std::string& key);
void WriteProfileText(const std::string& file, const std::string& section, const std::string& key,
                      const std::string& value);

// The numbers n in 1..count for which `section` has a key that `prefix` + n
// in decimal would read; every other n reads a missing key. One listing of
// the section, so a garbled count far beyond the keys costs nothing.
std::set<int> ListedKeyNumbers(const std::string& file, const std::string& section,
                               std::string_view prefix, int count);

// Calls made into the profile functions so far, for tests that bound the
// work a garbled file causes.
int64_t ProfileCallsForTesting();

}  // namespace config

#endif  // SCHEDEXE_CONFIG_PROFILE_ACCESS_H_
