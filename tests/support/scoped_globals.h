// Guards that change a process-wide setting (the system clock, the time
// zone, an environment variable) for one scope and restore it, so that a
// failing assertion never leaves a global pointing at a destroyed object or a
// setting that leaks into the next test.
#ifndef SCHEDEXE_TESTS_SUPPORT_SCOPED_GLOBALS_H_
#define SCHEDEXE_TESTS_SUPPORT_SCOPED_GLOBALS_H_

#include <optional>
#include <string>

#include "platform/clock.h"

namespace testsupport {

// Makes `clock` the system clock until the end of the scope, then puts back
// the one installed before.
class ScopedSystemClock {
 public:
  explicit ScopedSystemClock(platform::Clock& clock);
  ~ScopedSystemClock();
  ScopedSystemClock(const ScopedSystemClock&) = delete;
  ScopedSystemClock& operator=(const ScopedSystemClock&) = delete;

 private:
  platform::Clock* previous_;
};

// Sets (or, with nullptr, removes) an environment variable until the end of
// the scope, then restores what was there.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const char* value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> previous_;
};

// Local-time conversions in `tz` ("UTC0", ...) until the end of the scope.
// With startup_zone, in the zone the process was started in (TZ of the Linux
// process, named by `tz`; under Wine the zone Wine derived from it).
class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const char* tz, bool startup_zone = false);
  ~ScopedTimeZone();
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> previous_;
};

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_SCOPED_GLOBALS_H_
