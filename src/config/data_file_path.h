// Where the agent keeps its profile data file.
#ifndef SCHEDEXE_CONFIG_DATA_FILE_PATH_H_
#define SCHEDEXE_CONFIG_DATA_FILE_PATH_H_

#include <string>

namespace config {

inline constexpr char kDataDirectoryKey[] = "SOFTWARE\\Corvane\\Teltrix\\ZIZ2UDE";
inline constexpr char kDataDirectoryValue[] = "DatsPath";
inline constexpr char kDataFileSuffix[] = "\\tarn.dat";

// "DatsPath" followed by "\tarn.dat", or "" when the key does not open. While
// the key opens but the value cannot be read (missing, not a text, too long)
// the read is repeated: the callers have no way on without a path, and the
// agent may be writing the value right now. The pause between tries grows to
// 5 s, so a value that never appears costs nothing.
std::string ReadDataFilePath();

}  // namespace config

#endif  // SCHEDEXE_CONFIG_DATA_FILE_PATH_H_
