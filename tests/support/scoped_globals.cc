#include "support/scoped_globals.h"

#include <cstdlib>

#include "platform/testing.h"

namespace testsupport {

ScopedSystemClock::ScopedSystemClock(platform::Clock& clock) : previous_(&platform::SystemClock()) {
  platform::SetSystemClockForTesting(&clock);
}

ScopedSystemClock::~ScopedSystemClock() { platform::SetSystemClockForTesting(previous_); }

namespace {
std::optional<std::string> GetEnv(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

void PutEnv(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    platform::testing::SetEnv(name, *value);
  } else {
    platform::testing::UnsetEnv(name);
  }
}
}  // namespace

ScopedEnv::ScopedEnv(const std::string& name, const char* value)
    : name_(name), previous_(GetEnv(name)) {
  PutEnv(name, value ? std::optional<std::string>(value) : std::nullopt);
}

ScopedEnv::~ScopedEnv() { PutEnv(name_, previous_); }

ScopedTimeZone::ScopedTimeZone(const char* tz, bool startup_zone) : previous_(GetEnv("TZ")) {
  if (startup_zone) {
    platform::UseStartupTimeZoneForTesting(tz);
  } else {
    platform::SetTimeZoneForTesting(tz);
  }
}

ScopedTimeZone::~ScopedTimeZone() {
  platform::SetTimeZoneForTesting(previous_ ? previous_->c_str() : nullptr);
}

}  // namespace testsupport
