// Shared by the fuzz targets: a check that stops the run (libFuzzer keeps the
// input), and for the targets that read the data file a scratch agent whose
// time stands still (2027-04-14 10:20 UTC) and whose DMI commands are counted.
#ifndef SCHEDEXE_TESTS_FUZZ_FUZZ_CHECK_H_
#define SCHEDEXE_TESTS_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

#include "support/data_dir.h"
#include "support/manual_clock.h"

#define FUZZ_CHECK(c) \
  (c) ? (void)0       \
      : (std::fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #c), std::abort())

namespace fuzzsupport {

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

#endif  // SCHEDEXE_TESTS_FUZZ_FUZZ_CHECK_H_
