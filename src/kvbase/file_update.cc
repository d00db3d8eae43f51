#include "kvbase/file_update.h"

#include <memory>

#include "platform/file.h"

namespace kvbase {

bool UpdateFileLocked(const std::string& native_path, const FileEdit& edit, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  // Through a symbolic link, the file it names is replaced and the link kept.
  const std::string target = platform::WriteTarget(native_path);
  std::unique_ptr<platform::FileWriteLock> lock = platform::FileWriteLock::Acquire(target, error);
  if (!lock) return false;
  std::string current;
  const platform::FileStatus st = platform::ReadFileContents(target, &current, nullptr);
  if (st == platform::FileStatus::kError ||
      (st == platform::FileStatus::kMissing && !platform::ParentFolderExists(target))) {
    *error = "cannot read " + native_path + " (not a regular file, no folder, or no access)";
    return false;
  }
  std::string replacement;
  if (!edit(current, st == platform::FileStatus::kOk, &replacement)) return true;
  // What a writer that died left behind goes with the next write; a read
  // that changes nothing does not list the folder.
  platform::RemoveStaleTemporaries(target);
  return platform::ReplaceFileContents(target, replacement, error);
}

}  // namespace kvbase
