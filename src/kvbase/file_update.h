// Whole-file read-modify-write under the lock that every writer of a profile
// file takes, for files that a program rewrites as a whole rather than key
// by key (the DMI provider's table store).
#ifndef SCHEDEXE_KVBASE_FILE_UPDATE_H_
#define SCHEDEXE_KVBASE_FILE_UPDATE_H_

#include <functional>
#include <string>

namespace kvbase {

// Receives the current contents ("" and exists false for a missing file).
// Returns true with the new contents in *replacement to replace the file,
// false to leave it as it is.
using FileEdit =
    std::function<bool(const std::string& current, bool exists, std::string* replacement)>;

// Takes the writers' lock of `native_path`, clears what killed writers left,
// reads the file, calls `edit` and, when it asks for it, replaces the file
// atomically (readers see the old or the new contents, a crash leaves one of
// the two). False with the reason in *error when the lock cannot be taken or
// the file cannot be read or replaced; `edit` is not called when the read
// fails.
bool UpdateFileLocked(const std::string& native_path, const FileEdit& edit, std::string* error);

}  // namespace kvbase

#endif  // SCHEDEXE_KVBASE_FILE_UPDATE_H_
