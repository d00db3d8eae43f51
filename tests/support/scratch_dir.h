// Scratch room for tests: a temporary folder that lives as long as the test
// that made it (removed even when an assertion ends the test early), and
// names no other run uses.
#ifndef SCHEDEXE_TESTS_SUPPORT_SCRATCH_DIR_H_
#define SCHEDEXE_TESTS_SUPPORT_SCRATCH_DIR_H_

#include <chrono>
#include <fstream>
#include <random>
#include <string>

#include "platform/testing.h"

namespace testsupport {

// A new folder, removed with everything in it at the end of the scope.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& tag) : dir_(platform::testing::MakeTempDir(tag)) {}
  ~ScratchDir() { platform::testing::RemoveTree(dir_); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // Empty when the folder could not be made.
  const std::string& dir() const { return dir_; }
  // `name` inside the folder, with the native separator.
  std::string Path(const std::string& name) const { return dir_ + platform::testing::Sep() + name; }

 private:
  std::string dir_;
};

// `prefix` and a suffix unique to this run, for named objects of the
// machine (events, registry keys) that parallel runs must not share.
inline std::string UniqueName(const std::string& prefix) {
  return prefix + "-" + std::to_string(std::random_device()()) + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

// Writes `bytes` as the whole file, exactly.
inline void WriteBytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_SCRATCH_DIR_H_
