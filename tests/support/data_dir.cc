#include "support/data_dir.h"

#include <fstream>
#include <sstream>

#include "config/data_file_path.h"
#include "dmi/agent_client_directory.h"
#include "platform/file.h"
#include "platform/testing.h"

namespace testsupport {

DataDir::DataDir(FakeEnv& env, const std::string& tag)
    : env_(env), dir_(platform::testing::MakeTempDir(tag)) {
  env_.SetValue(config::kDataDirectoryKey, config::kDataDirectoryValue, dir_);
  env_.SetValue(dmi::kAgentKey, dmi::kAgentPathValue, dir_);
}

DataDir::~DataDir() { platform::testing::RemoveTree(dir_); }

std::string DataDir::native_data_file() const { return platform::NativePath(data_file()); }

void DataDir::Write(const std::string& contents) {
  std::ofstream out(native_data_file(), std::ios::binary | std::ios::trunc);
  out << contents;
}

std::string DataDir::Read() const { return platform::testing::FileContents(native_data_file()); }

std::vector<std::string> DataDir::Commands() const {
  std::vector<std::string> texts;
  const std::string prefix = client_dir();
  for (const FakeEnv::Start& start : env_.starts()) {
    const std::string& line = start.command_line;
    texts.push_back(line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line);
  }
  return texts;
}

std::vector<std::string> DataDir::Activations() const {
  std::vector<std::string> found;
  for (const std::string& c : Commands()) {
    if (c.rfind("wactivate", 0) == 0) found.push_back(c);
  }
  return found;
}

}  // namespace testsupport
