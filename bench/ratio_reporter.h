// The console report of a benchmark run that also keeps each benchmark's
// time per iteration, so that a program can print ratios of runs made in the
// same process. With repetitions (best interleaved at random, so that a
// machine that drifts weighs on both sides alike) a benchmark's time is the
// median of its repetitions.
#ifndef SCHEDEXE_BENCH_RATIO_REPORTER_H_
#define SCHEDEXE_BENCH_RATIO_REPORTER_H_

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        ns_[r.benchmark_name()].push_back(r.real_accumulated_time * 1e9 /
                                          static_cast<double>(r.iterations));
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Nanoseconds per iteration of the named benchmark (the median of its
  // repetitions); 0 when it did not run.
  double Ns(const std::string& name) const {
    auto it = ns_.find(name);
    if (it == ns_.end()) return 0;
    std::vector<double> times = it->second;
    const auto middle = times.begin() + static_cast<std::ptrdiff_t>(times.size() / 2);
    std::nth_element(times.begin(), middle, times.end());
    return *middle;
  }

 private:
  std::map<std::string, std::vector<double>> ns_;
};

// One ratio a benchmark program prints: the time of one benchmark over that
// of another, with a format that takes it (e.g. "x / y: %.2f\n").
struct Ratio {
  const char* numerator;
  const char* denominator;
  const char* format;
};

// Runs the benchmarks the command line selects, then prints each ratio whose
// two benchmarks both ran.
inline int RunAndPrintRatios(int argc, char** argv, std::initializer_list<Ratio> ratios) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  std::printf("\n");
  for (const Ratio& ratio : ratios) {
    const double numerator = reporter.Ns(ratio.numerator);
    const double denominator = reporter.Ns(ratio.denominator);
    if (numerator > 0 && denominator > 0) std::printf(ratio.format, numerator / denominator);
  }
  benchmark::Shutdown();
  return 0;
}

#endif  // SCHEDEXE_BENCH_RATIO_REPORTER_H_
