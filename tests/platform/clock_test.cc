// Virtual time: waits and sleeps end when a test moves a ManualClock, never on
// the machine's own timers.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/clock_step.h"
#include "platform/event.h"
#include "platform/testing.h"
#include "support/manual_clock.h"

namespace platform {
namespace {

using testsupport::ManualClock;

// A real-time pause, long enough for a thread that should stay blocked to
// show that it did not.
void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

TEST(ClockTest, TimedWaitsAndSleepsEndOnVirtualTimeOnly) {
  ManualClock clock(1'000'000'000);
  Event event(false, false, clock);
  std::atomic<int> result{-1};
  std::thread waiter([&] { result = event.Wait(5000) ? 1 : 0; });

  ASSERT_TRUE(clock.AwaitTimedWaiters(1));
  clock.AdvanceMs(4999);
  Settle();
  EXPECT_EQ(result, -1) << "woke before its deadline";
  clock.AdvanceMs(1);
  waiter.join();
  EXPECT_EQ(result, 0);
  EXPECT_EQ(clock.Now(), 1'000'000'005);
  EXPECT_EQ(clock.TimedWaiters(), 0);

  // A signal ends a timed wait without any time passing.
  std::thread signalled([&] { result = event.Wait(60'000) ? 1 : 0; });
  ASSERT_TRUE(clock.AwaitTimedWaiters(1));
  event.Set();
  signalled.join();
  EXPECT_EQ(result, 1);
  EXPECT_EQ(clock.NowMs(), 5000);

  // A sleep beyond the signed 32-bit range of milliseconds.
  std::atomic<bool> done{false};
  std::thread sleeper([&] {
    clock.Sleep(3'000'000'000u);
    done = true;
  });
  ASSERT_TRUE(clock.AwaitTimedWaiters(1));
  clock.AdvanceMs(2'999'999'999);
  Settle();
  EXPECT_FALSE(done);
  clock.AdvanceMs(1);
  sleeper.join();
  EXPECT_TRUE(done);
}

TEST(ClockTest, AutoAndManualReset) {
  ManualClock clock;
  Event automatic(false, false, clock);
  automatic.Set();
  automatic.Set();  // a second Set while signalled is no second signal
  EXPECT_TRUE(automatic.Wait(0));
  EXPECT_FALSE(automatic.Wait(0));

  Event manual(true, true, clock);
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.IsSet());
  EXPECT_FALSE(manual.Wait(0));

  // One Set releases every waiter of a manual event, one of an auto event.
  std::atomic<int> released{0};
  std::vector<std::thread> waiters;
  for (Event* event : {&manual, &manual, &automatic, &automatic}) {
    waiters.emplace_back([&released, event] {
      event->Wait();
      ++released;
    });
  }
  Settle();
  manual.Set();
  automatic.Set();
  Settle();
  EXPECT_EQ(released, 3);
  automatic.Set();
  for (std::thread& t : waiters) t.join();
  EXPECT_EQ(released, 4);
}

// Windows has no local time before 1970; Linux must refuse it as well.
TEST(ClockTest, NoLocalTimeBefore1970) {
  std::tm fields{};
  EXPECT_FALSE(RealClock().LocalTime(-1, &fields));
}

TEST(ClockTest, TheSystemsNoticeOfASetReachesAClockStepWatch) {
  Event told(true, false);
  std::atomic<int64_t> step{INT64_MIN};
  {
    ClockStepWatch watch(SystemClock(), [&](int64_t ms) {
      step = ms;
      told.Set();
    });
    EXPECT_EQ(watch.problem(), "");
    // Windows: the broadcast a set makes, the clock left as it is. Linux
    // gives none without a real set: the watch comes and goes quietly.
    if (testing::AnnounceClockSet()) {
      ASSERT_TRUE(told.Wait(10'000));
      EXPECT_LT(std::abs(step.load()), 1000);
    } else {
      EXPECT_FALSE(told.Wait(100));
    }
  }
}

}  // namespace
}  // namespace platform
