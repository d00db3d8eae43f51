// The record reset of one Event Cat2 row as the service sends it (the
// response count, then the twelve responses "Unused"): thirteen DmiSetValue
// processes against the same thirteen sets made by SetDmiAttribute in this
// process, in one run, so the ratio does not depend on the machine.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "dmi/dmi_setter.h"
#include "dmi_client.h"
#include "platform/process_info.h"
#include "platform/testing.h"
#include "ratio_reporter.h"
#include "support/scratch_dir.h"
#include "support/source_path.h"

namespace {

namespace pt = platform::testing;

using Arguments = std::vector<std::string>;

std::string Program(const char* name) {
  return platform::ExecutableDirectory() + pt::Sep() + name + pt::ExeSuffix();
}

bool Run(const char* program, const Arguments& args) {
  const auto child = pt::ChildProcess::Start(Program(program), args);
  return child && child->Wait() == 0;
}

const std::vector<Arguments>& RecordReset() {
  static const std::vector<Arguments> sets = [] {
    const std::string table =
        "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Event Cat2 Table|";
    std::vector<Arguments> list = {{table, "6", "0", "A1|5", "8"}};
    for (int k = 1; k <= 12; ++k)
      list.push_back({table, std::to_string(6 + k), "Unused", "A1|5", "8"});
    return list;
  }();
  return sets;
}

// A store of the agent's tables, made once for both benchmarks.
bool AgentStore() {
  static testsupport::ScratchDir scratch("setterbench");
  static const bool installed = [] {
    pt::SetEnv("DMI_STORE", scratch.Path("dmi-store.dat"));
    return Run("dmitables", {"install", testsupport::SourcePath("data/agent-tables.dmd")});
  }();
  return installed;
}

void BM_DmiSetValueProcesses(benchmark::State& state) {
  if (!AgentStore()) state.SkipWithError("the agent's tables did not install");
  for (auto _ : state) {
    for (const Arguments& set : RecordReset()) {
      if (!Run("DmiSetValue", set)) state.SkipWithError("DmiSetValue failed");
    }
  }
}
BENCHMARK(BM_DmiSetValueProcesses)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_SetDmiAttributeInProcess(benchmark::State& state) {
  std::string failure;
  if (!AgentStore() || !LoadDmiProvider(&failure)) state.SkipWithError("no provider or tables");
  for (auto _ : state) {
    for (const Arguments& a : RecordReset()) {
      if (dmi::SetDmiAttribute(a[0].c_str(), a[1].c_str(), a[2].c_str(), a[3].c_str(),
                               a[4].c_str()) != dmi::kSetOk) {
        state.SkipWithError("SetDmiAttribute failed");
      }
    }
  }
}
BENCHMARK(BM_SetDmiAttributeInProcess)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return RunAndPrintRatios(
      argc, argv,
      {{"BM_DmiSetValueProcesses/real_time", "BM_SetDmiAttributeInProcess/real_time",
        "13 DmiSetValue processes / 13 SetDmiAttribute calls in one process: %.2f\n"}});
}
