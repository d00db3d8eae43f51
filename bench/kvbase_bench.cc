// Cost of the profile reads of one configuration snapshot against one full
// parse of a realistic 1 MiB data file: with the cache, a snapshot's ~110
// reads should cost at most three parses.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "config/data_file_path.h"
#include "config/schedule_config.h"
#include "kvbase/profile.h"
#include "kvbase/profile_text.h"
#include "platform/file.h"
#include "platform/testing.h"
#include "ratio_reporter.h"
#include "support/fake_env.h"

namespace {

struct Fixture {
  std::string dir;
  std::string file;
  Fixture() {
    dir = platform::testing::MakeTempDir("kvbench");
    file = dir + "/tarn.dat";
    std::string s = "[TARN Event Categories]\r\nNumber of Categories=4\r\n";
    const char* cats[] = {"System Alarms", "User Alarms", "Inventory", "Network"};
    for (int k = 1; k <= 4; ++k) {
      s += "EventCat" + std::to_string(k) + "=" + cats[k - 1] + "\r\n";
    }
    s += "\r\n[EventCat2 List]\r\nChanged=True\r\nNumber of Cat2 Events=12\r\n";
    for (int i = 1; i <= 12; ++i)
      s += "Cat2:" + std::to_string(i) + "=User event " + std::to_string(i) + "\r\n";
    s += "\r\n[Scheduler Profiles]\r\nNumber of Profiles=12\r\n";
    for (int i = 1; i <= 12; ++i) {
      const std::string n = std::to_string(i);
      s += "\r\n[Scheduler Profile " + n + "]\r\nName=User event " + n +
           "\r\nFrequency=Daily\r\nYear=2026\r\nMonth=December\r\nDayOfMonth=" + n +
           "\r\nDayOfWeek=Monday\r\nHour=9\r\nMinute=" + n + "\r\nState=Active\r\n";
      s += "\r\n[Event Cat2:" + n + "]\r\nDescription=Scheduled user event " + n +
           "\r\nEvent Mode=1\r\nEvent Status=False\r\nUser Changable=True\r\n"
           "Number of Responses=3\r\n1=Response one\r\n2=Response "
           "two\r\n3=Response three\r\n";
    }
    // Everything else the agent keeps in the file.
    for (int f = 0; s.size() < (1u << 20); ++f) {
      s += "\r\n[Inventory Item " + std::to_string(f) + "]\r\n";
      for (int k = 0; k < 12; ++k) {
        s += "Attribute" + std::to_string(k) + "=value of attribute " + std::to_string(k) +
             " of item " + std::to_string(f) + "\r\n";
      }
    }
    std::ofstream(file, std::ios::binary) << s;
    // A file that has been still for a while, as tarn.dat is between edits:
    // the cache trusts only files not changed in the last moments.
    std::filesystem::last_write_time(
        file, std::filesystem::file_time_type::clock::now() - std::chrono::hours(1));
  }
  ~Fixture() { platform::testing::RemoveTree(dir); }
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

// What one ScheduleConfig reads: categories, the user-event list, and the
// twelve scheduler profiles.
int SnapshotReads(const char* file) {
  char buf[80];
  int sum = TARNG_GetProfileInt("TARN Event Categories", "Number of Categories", 0, file);
  for (int k = 1; k <= 4; ++k) {
    const std::string key = "EventCat" + std::to_string(k);
    sum += TARNG_GetProfileString("TARN Event Categories", key.c_str(), "", buf, 80, file);
  }
  sum += TARNG_GetProfileInt("EventCat2 List", "Number of Cat2 Events", 0, file);
  sum += TARNG_GetProfileString("EventCat2 List", "Changed", "", buf, 80, file);
  for (int i = 1; i <= 12; ++i) {
    const std::string key = "Cat2:" + std::to_string(i);
    sum += TARNG_GetProfileString("EventCat2 List", key.c_str(), "", buf, 80, file);
  }
  for (int i = 1; i <= 12; ++i) {
    const std::string s = "Scheduler Profile " + std::to_string(i);
    for (const char* key : {"Frequency", "Month", "DayOfWeek", "State"}) {
      sum += TARNG_GetProfileString(s.c_str(), key, "", buf, 80, file);
    }
    for (const char* key : {"Year", "DayOfMonth", "Hour", "Minute"}) {
      sum += TARNG_GetProfileInt(s.c_str(), key, 0, file);
    }
  }
  return sum;  // 1 + 4 + 1 + 1 + 12 + 96 = 115 reads
}

void BM_FullParse(benchmark::State& state) {
  const std::string& file = Data().file;
  for (auto _ : state) {
    std::string raw;
    platform::ReadFileContents(file, &raw, nullptr);
    auto text = kvbase::ProfileText::Parse(raw);
    benchmark::DoNotOptimize(text.sections().size());
  }
}
BENCHMARK(BM_FullParse)->Unit(benchmark::kMicrosecond);

void BM_SnapshotCached(benchmark::State& state) {
  kvbase::SetCacheEnabledForTesting(true);
  const char* file = Data().file.c_str();
  SnapshotReads(file);  // the first read of a new version parses it
  for (auto _ : state) benchmark::DoNotOptimize(SnapshotReads(file));
}
BENCHMARK(BM_SnapshotCached)->Unit(benchmark::kMicrosecond);

void BM_SnapshotUncached(benchmark::State& state) {
  kvbase::SetCacheEnabledForTesting(false);
  const char* file = Data().file.c_str();
  for (auto _ : state) benchmark::DoNotOptimize(SnapshotReads(file));
  kvbase::SetCacheEnabledForTesting(true);
}
BENCHMARK(BM_SnapshotUncached)->Unit(benchmark::kMillisecond);

// A reload comes right after a write (the agent edits the file, then
// signals): the snapshot's first read parses the new version, and until the
// clock moves on the file's stamp cannot vouch for the reads after it.
void BM_SnapshotJustWritten(benchmark::State& state) {
  kvbase::SetCacheEnabledForTesting(true);
  const char* file = Data().file.c_str();
  bool changed = false;
  for (auto _ : state) {
    state.PauseTiming();
    changed = !changed;
    TARNG_WriteProfileString("EventCat2 List", "Changed", changed ? "True" : "False", file);
    state.ResumeTiming();
    benchmark::DoNotOptimize(SnapshotReads(file));
  }
}
BENCHMARK(BM_SnapshotJustWritten)->Unit(benchmark::kMillisecond);

// The whole ScheduleConfig of the service: registry, categories, list and
// twelve profiles turned into schedule events.
void BM_ScheduleConfig(benchmark::State& state) {
  kvbase::SetCacheEnabledForTesting(true);
  testsupport::FakeEnv env;
  env.SetValue(config::kDataDirectoryKey, config::kDataDirectoryValue, Data().dir);
  { config::ScheduleConfig first(nullptr); }
  for (auto _ : state) {
    config::ScheduleConfig snapshot(nullptr);
    benchmark::DoNotOptimize(snapshot.GetEvents().size());
  }
}
BENCHMARK(BM_ScheduleConfig)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return RunAndPrintRatios(
      argc, argv,
      {{"BM_SnapshotCached", "BM_FullParse",
        "snapshot of 115 reads, cached / one full parse: %.3f (target <= 3)\n"},
       {"BM_SnapshotUncached", "BM_SnapshotCached", "snapshot uncached / cached: %.1f\n"},
       {"BM_ScheduleConfig", "BM_FullParse",
        "ScheduleConfig with twelve profiles / one full parse: %.3f (target < 3)\n"},
       {"BM_SnapshotJustWritten", "BM_FullParse",
        "snapshot right after a write / one full parse: %.2f (target <= 1.2)\n"}});
}
