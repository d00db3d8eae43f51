#include "kvbase/file_update.h"

#include <memory>

#include "platform/file.h"

namespace kvbase {

bool UpdateFileLocked(const std::string& native_path, const FileEdit& edit, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  std::unique_ptr<platform::FileWriteLock> lock =
      platform::FileWriteLock::Acquire(native_path, error);
  if (!lock) return false;
  platform::RemoveStaleTemporaries(native_path);
  std::string current;
  const platform::FileStatus st = platform::ReadFileContents(native_path, &current, nullptr);
  if (st == platform::FileStatus::kError ||
      (st == platform::FileStatus::kMissing && !platform::ParentFolderExists(native_path))) {
    *error = "cannot read " + native_path + " (not a regular file, no folder, or no access)";
    return false;
  }
  std::string replacement;
  if (!edit(current, st == platform::FileStatus::kOk, &replacement)) return true;
  return platform::ReplaceFileContents(native_path, replacement, error);
}

}  // namespace kvbase
