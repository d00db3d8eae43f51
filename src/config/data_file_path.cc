#include "config/data_file_path.h"

#include <algorithm>

#include "platform/clock.h"
#include "platform/registry_path.h"

namespace config {

namespace {
constexpr uint32_t kFirstRetryPauseMs = 50;
constexpr uint32_t kLongestRetryPauseMs = 5000;
}  // namespace

std::string ReadDataFilePath() {
  std::string path;
  uint32_t pause = kFirstRetryPauseMs;
  while (platform::ReadRegistryPath(kDataDirectoryKey, kDataDirectoryValue,
                                    kDataFileSuffix, &path) ==
         platform::RegistryStatus::kUnreadable) {
    platform::SystemClock().Sleep(pause);
    pause = std::min(pause * 2, kLongestRetryPauseMs);
  }
  return path;
}

}  // namespace config
