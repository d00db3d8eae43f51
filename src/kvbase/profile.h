// The profile functions of the base library: reads that return what the
// Windows private-profile functions return for the same file, and writes
// that change only the lines they must, under a lock shared by every
// process, replacing the file atomically.
#ifndef SCHEDEXE_KVBASE_PROFILE_H_
#define SCHEDEXE_KVBASE_PROFILE_H_

#include <string>

// Argument order and types of the library's interface. `buffer` is declared
// constant and is written all the same: `size` bytes, NUL-terminated. The
// file is a Windows path. Results: the count of characters placed in the
// buffer; the integer value; non-zero when the write succeeded.
int TARNG_GetProfileString(const char* section, const char* key, const char* default_value,
                           const char* buffer, int size, const char* file);
int TARNG_GetProfileInt(const char* section, const char* key, int default_value, const char* file);
// A null key deletes the section, a null value the key.
int TARNG_WriteProfileString(const char* section, const char* key, const char* value,
                             const char* file);

namespace kvbase {

// TARNG_WriteProfileString with the reason of a failure in *error.
bool WriteProfileString(const char* section, const char* key, const char* value, const char* file,
                        std::string* error);

// The file contents `raw` as WriteProfileString would leave them (a null
// key deletes the section, a null value the key; `section` is not null),
// for a writer that changes several keys in one UpdateFileLocked. False,
// and `raw` as it was, when the write would change nothing.
bool EditProfileText(std::string* raw, const char* section, const char* key, const char* value);

// Turns the cache of parsed files off (every read parses the file afresh)
// or back on. Tests and benchmarks only.
void SetCacheEnabledForTesting(bool enabled);

}  // namespace kvbase

#endif  // SCHEDEXE_KVBASE_PROFILE_H_
