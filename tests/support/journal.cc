#include "support/journal.h"

#include <fstream>

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

}  // namespace testsupport
