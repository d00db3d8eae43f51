#include "platform/env.h"

#include <atomic>

namespace platform {

namespace {
std::atomic<Env*> installed_env{nullptr};
}  // namespace

Env& SystemEnv() {
  Env* e = installed_env.load();
  return e ? *e : DefaultEnv();
}

void SetSystemEnvForTesting(Env* env) { installed_env.store(env); }

}  // namespace platform
