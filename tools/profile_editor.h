// The agent editor's half of the data-file protocol, as rules over the file:
// where a new profile goes, what an edit may not write, the user event record
// a new profile gets, the counts, and what becomes of each state word once
// the service's pass has read the edit. What the service does with a profile
// is never worked out here again: the loader and the passes answer it.
//
// A transaction is two locked updates of the file. The first writes the edit,
// the recounted counts and "Changed=True"; the service's reload pass then
// acts on the state words; the second, which compares before it writes, turns
// what the pass handled into "Active" or a free slot and resets "Changed".
#ifndef SCHEDEXE_TOOLS_PROFILE_EDITOR_H_
#define SCHEDEXE_TOOLS_PROFILE_EDITOR_H_

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/schedule_config.h"
#include "platform/file.h"

namespace tools {

// The category key the editor works with: the release always writes the
// counts of "EventCat2 List", while the loader reads the category's own list.
inline constexpr char kEditedCategoryKey[] = "EventCat2";

// The values a new user event record gets besides its description.
inline constexpr char kFreshEventMode[] = "Scheduled";
inline constexpr char kFreshEventStatus[] = "False";
inline constexpr char kFreshUserChangeable[] = "True";

// What the editor will not write: the field, and the rule it breaks.
struct Refusal {
  std::string field;
  std::string rule;
};

// One key to write; an empty key removes the whole section.
struct KeyWrite {
  std::string section;
  std::string key;
  std::string value;
};

// A profile's values by their key in the file ("Frequency", "Year", "Month",
// "DayOfMonth", "DayOfWeek", "Hour", "Minute"), as the user gave them.
using ProfileFields = std::map<std::string, std::string>;

// The file's spelling of a profile field named in any case; nullopt for a
// name that is none of them.
std::optional<std::string> ProfileFieldKey(const std::string& given);

enum class EditKind { kAdd, kChange, kDelete };

struct EditRequest {
  EditKind kind = EditKind::kAdd;
  std::string name;
  ProfileFields fields;
};

// The lowest slot whose list entry marks it free ("Unused", "!Unused!"); a
// missing or empty entry counts as in use, as the loader counts it. 0 when
// every slot is taken.
int FreeSlot(const config::ScheduleConfig& snapshot);

// The number of list entries in use, the value of both counts.
int SlotsInUse(const config::ScheduleConfig& snapshot);

// The first half's own writes for `request` on the file `snapshot` has read,
// or the refusal that leaves the file as it is. `slot` is the slot edited.
struct EditPlan {
  std::optional<Refusal> refusal;
  int slot = 0;
  std::vector<KeyWrite> writes;
};
EditPlan PlanEdit(config::ScheduleConfig& snapshot, const EditRequest& request);

// Writes every first half adds to its edit: both counts recounted (as they
// will be once `edit` is applied), "Changed=True", and "Update" for a
// profile in use that reads "Active" but is not in `queued` (the running
// service's queue; nullptr when it is not known).
std::vector<KeyWrite> FirstHalfWrites(const config::ScheduleConfig& snapshot, const EditPlan& edit,
                                      const std::set<std::string>* queued);

// Whether the file holds something only a reload pass can act on: a state
// word a pass handles, or an active profile missing from `queued`.
bool NeedsPass(const config::ScheduleConfig& snapshot, const std::set<std::string>* queued);

// What a reload pass acts on in the file as `snapshot` has read it, by slot:
// the state code, and for a deletion the slot its release frees (0: none)
// with that slot's list entry.
struct Handled {
  int32_t state = 0;
  int released = 0;
  std::string entry;
};
std::map<int, Handled> HandledByPass(config::ScheduleConfig& snapshot);

// The second half, on the file as it is now, for a pass that has handled
// `handled`: "Add" and "Update" become "Active" only where the file still
// reads that word; a release frees the list entry and the "Profile " entry
// only where the entry is still the one the pass released; the counts are
// recounted; "Changed" becomes "False" unless something is left for the
// next pass. The slots it finishes or frees go into *touched when given.
std::vector<KeyWrite> SecondHalfWrites(const config::ScheduleConfig& now,
                                       const std::map<int, Handled>& handled,
                                       std::set<int>* touched = nullptr);

// The DmiSetValue command texts that mirror `slots` as the file holds them
// now, and both counts, as the agent's editor sends them: the profile's
// Name, Frequency, Hour, Minute and Day (the day of the month for Monthly and
// Yearly, the day name for Weekly, "0" otherwise) in its Scheduler Profile
// Table row, its Scheduler Profiles and EventCat2 List entries and its Event
// Cat2 Table name; a free slot's names and entries as the file has them.
// The state rows are the service's. A text that cannot travel in quotes is
// not sent.
std::vector<std::string> MirrorCommands(const config::ScheduleConfig& now,
                                        const std::set<int>& slots);

// Why a read of `native` gave `status` (not kOk), with the OS's reason: call
// straight after the read, before anything else can change the last error.
std::string ReadFailureText(const std::string& native, platform::FileStatus status);

// One locked update of `file` (a data-file path as the service names it):
// `plan` works out the writes from a snapshot of the file, and they are
// written in one replacement provided the file still holds what the snapshot
// read; otherwise it starts over, so a write of the service in between
// (a firing) is kept. `plan` returns false to write nothing (a refusal).
// False with the reason in *error when the file cannot be read or written.
using UpdatePlan =
    std::function<bool(config::ScheduleConfig& snapshot, std::vector<KeyWrite>* writes)>;
bool UpdateProfileFile(const std::string& file, const UpdatePlan& plan, std::string* error);

// The first half of a transaction on `file`: the edit of `request` (null:
// none, as `settle` has) with FirstHalfWrites, in one locked update. A
// refusal writes nothing and is put in *refusal. False with the reason in
// *error when the file cannot be read or written.
bool WriteFirstHalf(const std::string& file, const EditRequest* request,
                    const std::set<std::string>* queued, std::optional<Refusal>* refusal,
                    std::string* error);
// The second half, after a pass that handled `handled`, in one locked update.
bool WriteSecondHalf(const std::string& file, const std::map<int, Handled>& handled,
                     std::set<int>* touched, std::string* error);

}  // namespace tools

#endif  // SCHEDEXE_TOOLS_PROFILE_EDITOR_H_
