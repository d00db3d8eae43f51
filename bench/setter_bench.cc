// The record reset of one Event Cat2 row as the service sends it (the
// response count, then the twelve responses "Unused"): thirteen DmiSetValue
// processes against the same thirteen sets made by SetDmiAttribute in this
// process. And one DmiSetValue that changes a value against its floor: the
// start of a static no-op, alone and with one durable rewrite of a file the
// store's size in the store's folder, made here or by a static program of
// its own. All in one run, so the ratios do not depend on the machine.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
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

const std::string& StorePath() {
  static testsupport::ScratchDir scratch("setterbench");
  static const std::string path = scratch.Path("dmi-store.dat");
  return path;
}

// A store of the agent's tables, made once for all the benchmarks.
bool AgentStore() {
  static const bool installed = [] {
    pt::SetEnv("DMI_STORE", StorePath());
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

// Each set changes the value, so each one writes the store.
void BM_OneDmiSetValue(benchmark::State& state) {
  if (!AgentStore()) state.SkipWithError("the agent's tables did not install");
  Arguments set = RecordReset()[0];
  int value = 0;
  for (auto _ : state) {
    set[2] = std::to_string(++value % 2);
    if (!Run("DmiSetValue", set)) state.SkipWithError("DmiSetValue failed");
  }
}
BENCHMARK(BM_OneDmiSetValue)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_StaticNoop(benchmark::State& state) {
  for (auto _ : state) {
    if (!Run("noop_static", {})) state.SkipWithError("noop did not run");
  }
}
BENCHMARK(BM_StaticNoop)->Unit(benchmark::kMillisecond)->UseRealTime();

// What any durable replacement costs: a temporary file written and synced,
// renamed over the old one, and the rename synced through the folder.
bool DurableRewrite(const std::string& path, const std::string& data) {
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const bool written = ::write(fd, data.data(), data.size()) == static_cast<ssize_t>(data.size()) &&
                       ::fsync(fd) == 0;
  if (::close(fd) != 0 || !written || ::rename(temp.c_str(), path.c_str()) != 0) return false;
  const std::string dir = path.substr(0, path.rfind('/'));
  const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool synced = dfd >= 0 && ::fsync(dfd) == 0;
  if (dfd >= 0) ::close(dfd);
  return synced;
}

std::string StoreText() {
  std::string data;
  if (FILE* f = std::fopen(StorePath().c_str(), "rb")) {
    char buf[4096];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) data.append(buf, n);
    std::fclose(f);
  }
  return data;
}

void BM_StaticNoopAndDurableRewrite(benchmark::State& state) {
  if (!AgentStore()) state.SkipWithError("the agent's tables did not install");
  const std::string data = StoreText();
  const std::string copy = StorePath() + ".floor";
  for (auto _ : state) {
    if (!Run("noop_static", {}) || !DurableRewrite(copy, data)) {
      state.SkipWithError("noop or rewrite failed");
    }
  }
}
BENCHMARK(BM_StaticNoopAndDurableRewrite)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same rewrite made by a process of its own: a fresh process pays for
// cold kernel paths in its fsyncs and rename that a warm loop does not, and
// DmiSetValue is always a fresh process.
void BM_StaticDurableRewrite(benchmark::State& state) {
  if (!AgentStore()) state.SkipWithError("the agent's tables did not install");
  const std::string copy = StorePath() + ".floor";
  if (!DurableRewrite(copy, StoreText())) state.SkipWithError("no copy of the store");
  for (auto _ : state) {
    if (!Run("durable_rewrite_static", {copy})) state.SkipWithError("the rewrite failed");
  }
}
BENCHMARK(BM_StaticDurableRewrite)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  return RunAndPrintRatios(
      argc, argv,
      {{"BM_DmiSetValueProcesses/real_time", "BM_SetDmiAttributeInProcess/real_time",
        "13 DmiSetValue processes / 13 SetDmiAttribute calls in one process: %.2f\n"},
       {"BM_OneDmiSetValue/real_time", "BM_StaticNoop/real_time",
        "one DmiSetValue / start of a static no-op: %.2f (goal <= 2.0)\n"},
       // Any program that makes the durable write pays this much: the goal
       // above is only reachable where it is below 2.0.
       {"BM_StaticNoopAndDurableRewrite/real_time", "BM_StaticNoop/real_time",
        "start of a static no-op + one durable rewrite / start of a static no-op: %.2f\n"},
       {"BM_OneDmiSetValue/real_time", "BM_StaticNoopAndDurableRewrite/real_time",
        "one DmiSetValue / start of a static no-op + one durable rewrite: %.2f (goal <= 1.5)\n"},
       {"BM_OneDmiSetValue/real_time", "BM_StaticDurableRewrite/real_time",
        "one DmiSetValue / a static program that makes one durable rewrite: %.2f\n"}});
}
