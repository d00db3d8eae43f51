#include "platform/working_set.h"

#include <atomic>

namespace platform {
namespace {
std::atomic<bool> trim_when_idle{false};
}  // namespace

void SetTrimWhenIdle(bool on) { trim_when_idle.store(on, std::memory_order_relaxed); }

void TrimWhenIdle() {
  if (trim_when_idle.load(std::memory_order_relaxed)) TrimWorkingSet();
}

}  // namespace platform
