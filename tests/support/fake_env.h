// An Env for tests: registry values from a map, process starts recorded
// instead of run. Installs itself for its lifetime. Its registry agrees with
// both real ones (tests/platform/registry_test.cc runs against all three):
// names compare without regard to case, a key written has its parents, and a
// deleted key takes its subkeys along.
#ifndef SCHEDEXE_TESTS_SUPPORT_FAKE_ENV_H_
#define SCHEDEXE_TESTS_SUPPORT_FAKE_ENV_H_

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"

namespace testsupport {

class FakeEnv : public platform::Env {
 public:
  struct Start {
    std::string command_line;
    uint32_t flags;
    bool wait;
  };

  FakeEnv();
  ~FakeEnv() override;

  // Registry: (subkey, value) -> text. A key that exists but lacks the value
  // reads as unreadable; a key that does not exist as missing.
  void SetValue(const std::string& subkey, const std::string& value, const std::string& text);
  void AddKey(const std::string& subkey);
  void DeleteKey(const std::string& subkey);
  // Called before every registry read; may change the values (for retries).
  std::function<void(const std::string& subkey, const std::string& value)> on_registry_read;

  // Whether StartProcess reports a start.
  bool start_result = true;
  // Also start the processes for real (through the OS backend), so programs
  // such as the agent stand-ins run.
  bool run_processes = false;
  // Keep every start for starts() (off: only count them, for long runs).
  bool keep_starts = true;

  std::vector<Start> starts();
  int registry_reads();
  int64_t start_count();

  platform::RegistryStatus ReadRegistryString(const char* subkey, const char* value_name,
                                              char* buffer, size_t size) override;
  bool StartProcess(const char* command_line, uint32_t creation_flags, bool wait) override;

 private:
  // Windows compares registry names without regard to (ASCII) case.
  struct NoCase {
    bool operator()(const std::string& a, const std::string& b) const;
  };
  using Values = std::map<std::string, std::string, NoCase>;

  std::mutex mutex_;
  std::map<std::string, Values, NoCase> keys_;
  std::vector<Start> starts_;
  int registry_reads_ = 0;
  int64_t start_count_ = 0;
};

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_FAKE_ENV_H_
