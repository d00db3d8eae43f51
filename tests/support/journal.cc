#include "support/journal.h"

#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/process_info.h"
#include "platform/testing.h"

namespace testsupport {

std::vector<std::string> ReadJournalCommands(const std::string& native_path) {
  std::ifstream in(native_path, std::ios::binary);
  std::vector<std::string> commands;
  std::string line;
  while (std::getline(in, line)) {
    const size_t tab = line.find('\t');
    commands.push_back(tab == std::string::npos ? "<no tab> " + line : line.substr(tab + 1));
  }
  return commands;
}

bool InstallStandIn(const std::string& program, const std::string& folder) {
  const std::string name = program + platform::testing::ExeSuffix();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  std::filesystem::copy_file(platform::ExecutableDirectory() + platform::kPathSeparator + name,
                             folder + platform::kPathSeparator + name,
                             std::filesystem::copy_options::overwrite_existing, error);
  return !error;
}

}  // namespace testsupport
