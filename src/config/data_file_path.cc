#include "config/data_file_path.h"

#include "platform/registry_path.h"
#include "platform/retry_pause.h"

namespace config {

std::string ReadDataFilePath() {
  std::string path;
  platform::RetryPause pause;
  while (platform::ReadRegistryPath(kDataDirectoryKey, kDataDirectoryValue, kDataFileSuffix,
                                    &path) == platform::RegistryStatus::kUnreadable) {
    pause.Sleep();
  }
  return path;
}

}  // namespace config
