// Reading a registry file whose one key path is very deep: the cost grows
// with the line, so a line four times as long takes about four times as long
// (a reader that keeps every prefix of the path would take sixteen).
#include <benchmark/benchmark.h>

#include <string>

#include "platform/posix/registry_file.h"
#include "ratio_reporter.h"

namespace {

std::string DeepFile(int depth) {
  std::string path = "HKEY_LOCAL_MACHINE";
  for (int i = 0; i < depth; ++i) path += "\\a";
  return "REGEDIT4\n[" + path + "]\n\"v\"=\"x\"\n";
}

void BM_DeepPath(benchmark::State& state) {
  const std::string text = DeepFile(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    platform::posix::RegistryFile file;
    benchmark::DoNotOptimize(file.Parse(text));
  }
}
BENCHMARK(BM_DeepPath)->Arg(16384)->Arg(65536)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return RunAndPrintRatios(argc, argv,
                           {{"BM_DeepPath/65536", "BM_DeepPath/16384",
                             "key path 4x as deep / 1x: %.1f (linear: about 4; quadratic: 16)\n"}});
}
