#include "platform/env.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<Env*> installed_env{nullptr};
}  // namespace

bool Env::StartProcessWithOutcome(const char* command_line, uint32_t creation_flags, bool wait,
                                  ProcessOutcome* outcome) {
  *outcome = ProcessOutcome();
  return StartProcess(command_line, creation_flags, wait);
}

Env& SystemEnv() {
  Env* e = installed_env.load();
  return e ? *e : DefaultEnv();
}

void SetSystemEnvForTesting(Env* env) { installed_env.store(env); }

}  // namespace platform
