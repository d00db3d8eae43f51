// DMI class paths, as DmiSetValue command lines name a table: a component
// class, a third "|", then a group class, as in
// "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Scheduler Profile Table|",
// or a group class alone ("CORVANEX|Remote Execution Triggers|"), which any
// component may hold.
#ifndef SCHEDEXE_DMI_CLASS_PATH_H_
#define SCHEDEXE_DMI_CLASS_PATH_H_

#include <string>
#include <string_view>

namespace dmi {

struct ClassPath {
  bool has_component_class;
  std::string component_class;  // the text before the third "|"
  std::string group_class;      // the text after it, or the whole path
};

// Splits `path` at its third "|"; with fewer than three there is no
// component class and the whole path is the group class.
ClassPath SplitClassPath(std::string_view path);

// True when the class string `classString` answers the search text
// `search`: it begins with `search` (case matters), or `search` begins with
// "|" and the part of `classString` from its first "|" begins with `search`,
// so that a leading "|" stands for any vendor.
bool ClassMatches(std::string_view search, std::string_view classString);

}  // namespace dmi

#endif  // SCHEDEXE_DMI_CLASS_PATH_H_
