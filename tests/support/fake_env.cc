#include "support/fake_env.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace testsupport {

FakeEnv::FakeEnv() { platform::SetSystemEnvForTesting(this); }

FakeEnv::~FakeEnv() { platform::SetSystemEnvForTesting(nullptr); }

bool FakeEnv::NoCase::operator()(const std::string& a, const std::string& b) const {
  return std::lexicographical_compare(
      a.begin(), a.end(), b.begin(), b.end(),
      [](unsigned char x, unsigned char y) { return std::tolower(x) < std::tolower(y); });
}

void FakeEnv::SetValue(const std::string& subkey, const std::string& value,
                       const std::string& text) {
  AddKey(subkey);
  std::lock_guard<std::mutex> g(mutex_);
  keys_[subkey][value] = text;
}

void FakeEnv::AddKey(const std::string& subkey) {
  std::lock_guard<std::mutex> g(mutex_);
  // A key exists with all of its parents.
  for (size_t end = subkey.find('\\'); end != std::string::npos; end = subkey.find('\\', end + 1)) {
    keys_[subkey.substr(0, end)];
  }
  keys_[subkey];
}

void FakeEnv::DeleteKey(const std::string& subkey) {
  std::lock_guard<std::mutex> g(mutex_);
  // The key and every key below it.
  std::erase_if(keys_, [&](const auto& key) {
    const std::string head = key.first.substr(0, subkey.size());
    return !NoCase()(head, subkey) && !NoCase()(subkey, head) &&
           (key.first.size() == subkey.size() || key.first[subkey.size()] == '\\');
  });
}

std::vector<FakeEnv::Start> FakeEnv::starts() {
  std::lock_guard<std::mutex> g(mutex_);
  return starts_;
}

int64_t FakeEnv::start_count() {
  std::lock_guard<std::mutex> g(mutex_);
  return start_count_;
}

int FakeEnv::registry_reads() {
  std::lock_guard<std::mutex> g(mutex_);
  return registry_reads_;
}

platform::RegistryStatus FakeEnv::ReadRegistryString(const char* subkey, const char* value_name,
                                                     char* buffer, size_t size) {
  if (on_registry_read) on_registry_read(subkey, value_name);
  std::lock_guard<std::mutex> g(mutex_);
  ++registry_reads_;
  if (size > 0) buffer[0] = '\0';
  auto key = keys_.find(subkey);
  if (key == keys_.end()) return platform::RegistryStatus::kNoKey;
  auto value = key->second.find(value_name);
  if (value == key->second.end() || value->second.size() >= size) {
    return platform::RegistryStatus::kUnreadable;
  }
  std::memcpy(buffer, value->second.c_str(), value->second.size() + 1);
  return platform::RegistryStatus::kOk;
}

bool FakeEnv::StartProcess(const char* command_line, uint32_t creation_flags, bool wait) {
  {
    std::lock_guard<std::mutex> g(mutex_);
    ++start_count_;
    if (keep_starts) starts_.push_back({command_line, creation_flags, wait});
  }
  if (run_processes) {
    return platform::DefaultEnv().StartProcess(command_line, creation_flags, wait);
  }
  return start_result;
}

}  // namespace testsupport
