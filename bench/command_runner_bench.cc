// RunCommandAndWait against the bare cost of starting and reaping the same
// program, measured in one run so the ratio does not depend on the machine.
#include <benchmark/benchmark.h>

#include <string>

#include "dmi/command_runner.h"
#include "platform/process_info.h"
#include "platform/testing.h"

namespace {

std::string NoopProgram() {
  return platform::ExecutableDirectory() + platform::kPathSeparator + "noop_static";
}

void BM_BareSpawnAndWait(benchmark::State& state) {
  const std::string program = NoopProgram();
  for (auto _ : state) {
    auto child = platform::testing::ChildProcess::Start(program, {});
    if (!child || child->Wait() != 0) state.SkipWithError("noop did not run");
  }
}
BENCHMARK(BM_BareSpawnAndWait)->UseRealTime();

void BM_RunCommandAndWait(benchmark::State& state) {
  const std::string program = NoopProgram();
  for (auto _ : state) {
    if (!dmi::RunCommandAndWait(program)) state.SkipWithError("noop did not run");
  }
}
BENCHMARK(BM_RunCommandAndWait)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
