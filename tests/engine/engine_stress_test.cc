// Several threads add, remove and wake while timers fire, on a clock that
// races ahead in real time. Run under the thread sanitizer this checks the
// hand-overs between worker, dispatcher, timer and execution threads; in any
// build it checks that nothing fires once its event is gone.
#include <gtest/gtest.h>

#include <atomic>
#include <ctime>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "engine/scheduler_host.h"
#include "support/data_dir.h"
#include "support/fake_env.h"
#include "support/manual_clock.h"

namespace engine {
namespace {

TEST(EngineStressTest, NothingFiresAfterItsEventIsRemoved) {
  testsupport::UtcManualTime utc(1807698000);
  testsupport::ManualClock& clock = utc.clock;
  testsupport::FakeEnv env;
  testsupport::DataDir data(env, "stress");
  data.Write("[EventCat2 List]\nCat2:1=a\n[Scheduler Profile 1]\nName=a\n");
  EventQueue queue;
  {
    SchedulerHost host(&queue);
    std::atomic<bool> running{true};
    // Virtual time races ahead: a minute of it passes in about 12 ms.
    std::atomic<int64_t> step_ms{500};
    std::thread ticker([&] {
      while (running) {
        clock.AdvanceMs(step_ms);
        std::this_thread::sleep_for(std::chrono::microseconds(100));
      }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 4; ++w) {
      workers.emplace_back([&, w] {
        std::mt19937 random(w);
        for (int i = 0; i < 150; ++i) {
          const std::string task = std::to_string(1 + w * 3 + random() % 3);
          switch (random() % 3) {
            case 0: {
              std::tm now{};
              clock.LocalTime(clock.Now() + 60 * static_cast<int>(random() % 3), &now);
              schedule::ScheduleEvent e;
              e.SetDaily(task, now.tm_hour, now.tm_min);
              host.AddEvent(e);
              break;
            }
            case 1:
              host.RemoveEvent(task, false);
              break;
            default:
              host.WakeScheduler();
          }
          std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
        }
      });
    }
    for (auto& t : workers) t.join();
    // One more event, of a task no worker used, for the next minute: it fires
    // within the next minutes of virtual time, whatever else is queued.
    std::tm next{};
    clock.LocalTime(clock.Now() + 60, &next);
    schedule::ScheduleEvent last;
    last.SetDaily("13", next.tm_hour, next.tm_min);
    host.AddEvent(last);
    // Firings take real time too (an execution reads the data file), so wait
    // for one in real time, bounded.
    for (int i = 0; i < 30000 && data.Activations().empty(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_FALSE(data.Activations().empty());

    for (int task = 1; task <= 13; ++task) host.RemoveEvent(std::to_string(task), false);
    host.WakeScheduler();
    // Let firings already under way finish (only the dispatcher is left),
    // then run days ahead.
    for (int i = 0; i < 30000 && host.scheduler().threads().Live() > 1; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    const size_t settled = data.Activations().size();
    step_ms = 600'000;
    const int64_t until = clock.NowMs() + 3LL * 86400 * 1000;
    while (clock.NowMs() < until) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    running = false;
    ticker.join();
    EXPECT_EQ(data.Activations().size(), settled);
    EXPECT_EQ(host.QueueLength(), 0u);
  }
}

}  // namespace
}  // namespace engine
