// Names of the temporary files that ReplaceFileContents writes beside a file
// (both backends). They start with a dot and end in ".kvtmp", so a reader that
// looks for the data file by its name never takes one for it, and
// RemoveStaleTemporaries knows them again.
#ifndef SCHEDEXE_PLATFORM_TEMPORARY_NAMES_H_
#define SCHEDEXE_PLATFORM_TEMPORARY_NAMES_H_

#include <string>

namespace platform {

inline constexpr char kTempSuffix[] = ".kvtmp";

inline std::string TempPrefix(const std::string& base) { return "." + base + "."; }

// Unique among the writers of one folder: the process id and a per-process
// counter.
inline std::string TemporaryName(const std::string& base, unsigned long pid, unsigned counter) {
  return TempPrefix(base) + std::to_string(pid) + "." + std::to_string(counter) + kTempSuffix;
}

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_TEMPORARY_NAMES_H_
