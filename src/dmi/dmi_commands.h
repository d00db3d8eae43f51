// The DmiSetValue command texts the scheduler sends, one function per kind of
// change. Each text is what follows the agent client directory on the command
// line; the row numbers of the DMI tables are worked out here and nowhere else.
#ifndef SCHEDEXE_DMI_DMI_COMMANDS_H_
#define SCHEDEXE_DMI_DMI_COMMANDS_H_

#include <string>

namespace dmi {

// Leading texts up to and including the opening of the key list ("A1|").
inline constexpr char kProfileActiveText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "Scheduler Profile Table|\" 7 \"Active\" \"A1|";
inline constexpr char kProfileDeleteText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "Scheduler Profile Table|\" 7 \"Delete\" \"A1|";
inline constexpr char kProfileNameUnusedText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "Scheduler Profile Table|\" 2 \"Unused\" \"A1|";
inline constexpr char kProfileStateUnusedText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "Scheduler Profile Table|\" 7 \"Unused\" \"A1|";
inline constexpr char kProfileListEntryUnusedText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "Scheduler Profiles|\" 2 \"Unused\" \"A1|";
inline constexpr char kCat2ListEntryUnusedText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "EventCat2 List|\" 2 \"Unused\" \"A1|";
inline constexpr char kCat2ListUnchangedText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "EventCat2 List|\" 2 \"False\" \"A1|";
inline constexpr char kCat2FiredText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "Event Cat2 Table|\" 5 \"True\" \"A1|";
inline constexpr char kGeneralFiredText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "General|\" 2 \"True\" \"A1|";

// Texts up to the attribute id and its trailing blank, for the bare counts.
inline constexpr char kProfileCountText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "Scheduler Profiles|\" 2 ";
inline constexpr char kCat2ListCountText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "EventCat2 List|\" 2 ";
inline constexpr char kCountKeyText[] = " \"A1|";

// Text up to the closing quote of the class path, for the Cat2 record rows.
inline constexpr char kCat2TableText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|"
    "Event Cat2 Table|\"";
inline constexpr char kResponseUnusedText[] = " \"Unused\" \"A1|";

// The editor of the data file mirrors what it wrote into the agent's
// tables through these: the program and the component part of the class
// path, then a group name, "|\"", attribute, quoted value, key list, type.
inline constexpr char kAgentTablesText[] =
    "DmiSetValue \"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|";
inline constexpr char kProfileTableGroup[] = "Scheduler Profile Table";
inline constexpr char kProfileListGroup[] = "Scheduler Profiles";
inline constexpr char kCat2ListGroup[] = "EventCat2 List";
inline constexpr char kCat2TableGroup[] = "Event Cat2 Table";
// Text attributes of a Scheduler Profile Table row, and the name of an Event
// Cat2 Table row.
inline constexpr int kProfileNameAttribute = 2;
inline constexpr int kProfileFrequencyAttribute = 3;
inline constexpr int kProfileHourAttribute = 4;
inline constexpr int kProfileMinuteAttribute = 5;
inline constexpr int kProfileDayAttribute = 6;
inline constexpr int kCat2NameAttribute = 2;

// Sent whole: asks the agent to synchronise.
inline constexpr char kSynchCommand[] =
    "DmiSetValue \"CORVANEX|Remote Execution Triggers|\" 16 \"synch\" \"\" 8";

// DMI type of every value sent: display string.
inline constexpr int kDisplayStringType = 8;

// Scheduler Profile Table: profile p reports "Active" (row p+1).
std::string ProfileActiveCommand(int profile);
// Scheduler Profile Table: the "Delete" state for a row already worked out as
// p+1 (the caller's row number is used as given).
std::string ProfileDeleteCommand(int row);
// Releasing the profile of slot n: its name and state become "Unused" (row
// n+1), and its entry of the Scheduler Profiles list (row n+6).
std::string ProfileNameUnusedCommand(int slot);
std::string ProfileStateUnusedCommand(int slot);
std::string ProfileListEntryUnusedCommand(int slot);
// Scheduler Profiles: the number of profiles (row 6), sent bare.
std::string ProfileCountCommand(int count);
// EventCat2 List: entry "Cat2:" n becomes "Unused" (row n+12).
std::string Cat2ListEntryUnusedCommand(int slot);
// EventCat2 List: the number of Cat2 events (row 11), sent bare.
std::string Cat2ListCountCommand(int count);
// EventCat2 List: the last Cat2 event is cleared to 0 (row 12).
std::string Cat2ListLastEventClearCommand();
// EventCat2 List: the changed mark reads "False" (row 3).
std::string Cat2ListUnchangedCommand();
// Event Cat2 Table: the event of slot n has fired (row n+1); then General
// row 3 says an event fired.
std::string Cat2FiredCommand(int slot);
std::string GeneralFiredCommand();
// Event Cat2 Table, record n: its number of responses (attribute 6), and
// response k (1 to 12, attribute 6+k) made "Unused".
std::string Cat2ResponseCountCommand(int slot, int response_count);
std::string Cat2ResponseUnusedCommand(int slot, int response);

// The editor's rows. `value` travels in double quotes, so it holds none and
// does not end in a backslash. A text attribute of profile p's row (p+1) of
// the Scheduler Profile Table; slot n's entry of the Scheduler Profiles list
// (row n+6) and of the EventCat2 List (row n+12); the name of Cat2 event n
// (Event Cat2 Table row n+1).
std::string ProfileTableTextCommand(int profile, int attribute, const std::string& value);
std::string ProfileListEntryCommand(int slot, const std::string& value);
std::string Cat2ListEntryCommand(int slot, const std::string& value);
std::string Cat2NameCommand(int slot, const std::string& value);

}  // namespace dmi

#endif  // SCHEDEXE_DMI_DMI_COMMANDS_H_
