#include "config/data_file_path.h"

#include "platform/registry_path.h"
#include "platform/retry_pause.h"
#include "platform/service_dispatcher.h"

namespace config {

std::string ReadDataFilePath() {
  std::string path;
  platform::RetryPause pause;
  while (platform::ReadRegistryPath(kDataDirectoryKey, kDataDirectoryValue, kDataFileSuffix,
                                    &path) == platform::RegistryStatus::kUnreadable) {
    platform::SetServiceStatusText(std::string("waiting for the registry value ") +
                                   kDataDirectoryValue);
    pause.Sleep();
  }
  return path;
}

}  // namespace config
