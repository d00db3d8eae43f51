// What every fuzz target shares: a check that stops the run with the failed
// condition (libFuzzer then keeps the input), and the scratch agent that the
// targets reading the data file use.
#ifndef SCHEDEXE_TESTS_FUZZ_FUZZ_CHECK_H_
#define SCHEDEXE_TESTS_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

#ifdef SCHEDEXE_FUZZ_AGENT
#include "support/data_dir.h"
#include "support/fake_env.h"
#include "support/manual_clock.h"

namespace fuzzsupport {

// One for the whole run: time stands still (2027-04-14 10:20 UTC), the
// registry names a scratch data folder, and DMI commands are only counted.
struct Agent {
  testsupport::UtcManualTime utc{1807698000};
  testsupport::FakeEnv env;
  testsupport::DataDir data{env, "fuzz"};
  Agent() { env.keep_starts = false; }
};

inline Agent& TheAgent() {
  static Agent agent;
  return agent;
}

}  // namespace fuzzsupport
#endif

#endif  // SCHEDEXE_TESTS_FUZZ_FUZZ_CHECK_H_
