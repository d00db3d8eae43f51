// What the engine costs while it waits and while it works: wake-ups of an
// idle engine, timer threads and memory after a storm of re-arms, and memory
// over a long run of firings in virtual time. Prints figures, each next to
// its yardstick from the same run.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "engine/scheduler_host.h"
#include "platform/clock.h"
#include "platform/process_stats.h"
#include "support/data_dir.h"
#include "support/fake_env.h"
#include "support/manual_clock.h"
#include "support/virtual_time.h"

namespace {

constexpr char kProfiles[] =
    "[EventCat2 List]\nCat2:1=a\n[Scheduler Profile 1]\nName=not in the list\n";

double MiB(int64_t bytes) { return static_cast<double>(bytes) / 1048576.0; }

schedule::ScheduleEvent DailyAt(platform::Clock& clock, int task, int ahead_s) {
  std::tm at{};
  clock.LocalTime(clock.Now() + ahead_s, &at);
  schedule::ScheduleEvent e;
  e.SetDaily(std::to_string(task), at.tm_hour, at.tm_min);
  return e;
}

// Twelve events due in an hour; count the context switches of 10 idle
// seconds against a process that only sleeps.
void Idle() {
  testsupport::FakeEnv env;
  testsupport::DataDir data(env, "idlebench");
  data.Write(kProfiles);
  constexpr auto kWindow = std::chrono::seconds(10);

  int64_t before = platform::VoluntaryContextSwitches();
  std::this_thread::sleep_for(kWindow);
  const int64_t baseline = platform::VoluntaryContextSwitches() - before;

  engine::EventQueue queue;
  engine::SchedulerHost host(&queue);
  std::vector<std::thread> adders;
  for (int task = 1; task <= 12; ++task) {
    adders.emplace_back(
        [&, task] { host.AddEvent(DailyAt(platform::SystemClock(), task, 3600 + 60 * task)); });
  }
  for (auto& t : adders) t.join();
  std::this_thread::sleep_for(std::chrono::seconds(2));
  before = platform::VoluntaryContextSwitches();
  std::this_thread::sleep_for(kWindow);
  const int64_t idle = platform::VoluntaryContextSwitches() - before;
  std::printf(
      "idle engine, 12 events queued, none due for an hour:\n"
      "  voluntary context switches in 10 s: %lld "
      "(a process that only sleeps: %lld; engine's own: %lld)\n",
      static_cast<long long>(idle), static_cast<long long>(baseline),
      static_cast<long long>(idle - baseline));
}

// 10,000 add/remove/wake cycles on a clock that races ahead.
void Storm() {
  testsupport::ManualClock clock;
  platform::SetSystemClockForTesting(&clock);
  {
    testsupport::FakeEnv env;
    testsupport::DataDir data(env, "stormbench");
    data.Write(kProfiles);
    engine::EventQueue queue;
    engine::SchedulerHost host(&queue);
    std::atomic<bool> running{true};
    std::thread ticker([&] {
      while (running) {
        clock.AdvanceMs(250);
        std::this_thread::sleep_for(std::chrono::microseconds(50));
      }
    });
    // A later event stays queued, so every cycle re-arms twice: for the new
    // head, and for the old one once the new head is gone.
    host.AddEvent(DailyAt(clock, 12, 7200));
    auto cycles = [&](int n) {
      for (int i = 0; i < n; ++i) {
        host.AddEvent(DailyAt(clock, 1 + i % 11, 3600));
        host.RemoveEvent(std::to_string(1 + i % 11), false);
        host.WakeScheduler();
      }
    };
    cycles(1000);  // warm up allocator and caches
    const int64_t rss_before = platform::ResidentBytes();
    int peak_threads = 0;
    std::thread watcher([&] {
      while (running) {
        peak_threads = std::max(peak_threads, host.scheduler().threads().Live());
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    });
    const auto start = std::chrono::steady_clock::now();
    cycles(10000);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int after_threads = host.scheduler().threads().Live();
    const int64_t rss_after = platform::ResidentBytes();
    running = false;
    ticker.join();
    watcher.join();
    std::printf(
        "re-arm storm, 10,000 add/remove/wake cycles (%.1f s):\n"
        "  engine threads alive after: %d (dispatcher + %d timer), "
        "at most during: %d\n"
        "  resident memory %.2f MiB before, %.2f MiB after (ratio %.3f)\n",
        seconds, after_threads, after_threads - 1, peak_threads, MiB(rss_before), MiB(rss_after),
        static_cast<double>(rss_after) / static_cast<double>(rss_before));
  }
  platform::SetSystemClockForTesting(nullptr);
}

// An hourly event fired `firings` times, time moved deadline by deadline.
void Firings(long firings) {
  testsupport::ManualClock clock;
  platform::SetSystemClockForTesting(&clock);
  {
    testsupport::FakeEnv env;
    env.keep_starts = false;
    testsupport::DataDir data(env, "firebench");
    data.Write(kProfiles);
    engine::EventQueue queue;
    engine::SchedulerHost host(&queue);
    testsupport::VirtualTime time(clock, host.scheduler().threads());
    schedule::ScheduleEvent hourly;
    hourly.SetHourly("1", 30);
    hourly.AdvanceHour();
    time.Run([&] { host.AddEvent(hourly); });
    std::printf("%ld firings of an hourly event in virtual time:\n", firings);
    const int64_t rss_start = platform::ResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    const long step = firings / 10 > 0 ? firings / 10 : 1;
    for (long done = 0; done < firings;) {
      const long next = std::min(firings, done + step);
      while (env.start_count() < next) time.RunFor(3600 * 1000);
      done = next;
      std::printf("  %8ld fired: resident %.2f MiB (%.3f of the start)\n",
                  static_cast<long>(env.start_count()), MiB(platform::ResidentBytes()),
                  static_cast<double>(platform::ResidentBytes()) / static_cast<double>(rss_start));
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("  %.1f s real, %.1f us a firing\n", seconds,
                seconds * 1e6 / static_cast<double>(firings));
  }
  platform::SetSystemClockForTesting(nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "all";
  const long firings = argc > 2 ? std::atol(argv[2]) : 1'000'000;
  if (only == "all" || only == "idle") Idle();
  if (only == "all" || only == "storm") Storm();
  if (only == "all" || only == "firings") Firings(firings);
  return 0;
}
