// The console report of a benchmark run that also keeps each benchmark's
// time per iteration, so that a program can print ratios of runs made in the
// same process.
#ifndef SCHEDEXE_BENCH_RATIO_REPORTER_H_
#define SCHEDEXE_BENCH_RATIO_REPORTER_H_

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& r : runs) {
      if (r.run_type == Run::RT_Iteration && r.iterations > 0) {
        ns_[r.benchmark_name()] = r.real_accumulated_time * 1e9 / static_cast<double>(r.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  // Nanoseconds per iteration of the named benchmark; 0 when it did not run.
  double Ns(const std::string& name) const {
    auto it = ns_.find(name);
    return it == ns_.end() ? 0 : it->second;
  }

 private:
  std::map<std::string, double> ns_;
};

#endif  // SCHEDEXE_BENCH_RATIO_REPORTER_H_
