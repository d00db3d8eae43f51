#include "config/data_file_path.h"

#include "platform/faults.h"
#include "platform/log.h"
#include "platform/registry_path.h"
#include "platform/retry_pause.h"

namespace config {

std::string ReadDataFilePath() {
  std::string path;
  platform::RetryPause pause;
  bool told = false;
  while (platform::ReadRegistryPath(kDataDirectoryKey, kDataDirectoryValue, kDataFileSuffix,
                                    &path) == platform::RegistryStatus::kUnreadable) {
    platform::ShowActivity(std::string("waiting for the registry value ") + kDataDirectoryValue);
    if (!told) {
      platform::Log(platform::LogLevel::kError,
                    "the data file's folder cannot be read from the registry; retrying");
      told = true;
    }
    pause.Sleep();
  }
  return path;
}

}  // namespace config
