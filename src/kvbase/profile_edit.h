// Changes to the text of a profile file that keep every line they do not
// change: comments, lines without '=', blank lines, the spelling of names
// and the file's own line ends. The profile writes and the programs that
// keep a whole file in the profile format (the DMI provider's table store)
// share these, so both leave a person's edits alone.
#ifndef SCHEDEXE_KVBASE_PROFILE_EDIT_H_
#define SCHEDEXE_KVBASE_PROFILE_EDIT_H_

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvbase {

class ProfileText;

struct ProfileChange {
  enum class Kind {
    kSetKey,         // the first such key of the first such section; a new key
                     // goes after the section's last line that is not blank,
                     // a new section at the end of the file
    kDeleteKey,      // the key (or line without '=') in the first section of
                     // that name that has it
    kDeleteSection,  // the first section of that name, header and lines
    kAddSection,     // a new section with its keys, one block at the end of
                     // the file; into a section that exists, keys are set
  };

  static ProfileChange SetKey(std::string section, std::string key, std::string value);
  static ProfileChange DeleteKey(std::string section, std::string key);
  static ProfileChange DeleteSection(std::string section);
  static ProfileChange AddSection(std::string section,
                                  std::vector<std::pair<std::string, std::string>> keys);

  Kind kind = Kind::kSetKey;
  std::string section;  // names as the file should spell new ones; any case matches
  std::string key;
  std::string value;
  std::vector<std::pair<std::string, std::string>> keys;  // kAddSection
};

// `raw` with the changes made in order, each as if on the text the ones
// before it left. New lines end as the file's lines do, with
// `default_line_end` in a file that has no line end yet. Nullopt when the
// text already says what the changes say. Changes that do not touch the
// same lines are made from one reading of the text, so a long list costs
// about as much as one change.
// `parsed`, when given, is ProfileText::Parse(raw), which a caller that
// read the text has already made.
std::optional<std::string> ApplyProfileChanges(std::string_view raw,
                                               const std::vector<ProfileChange>& changes,
                                               std::string_view default_line_end,
                                               const ProfileText* parsed = nullptr);

}  // namespace kvbase

#endif  // SCHEDEXE_KVBASE_PROFILE_EDIT_H_
