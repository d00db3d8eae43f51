// Virtual time: waits and sleeps end when a test moves a ManualClock, never on
// the machine's own timers, and calendar conversions keep to the 32-bit range.
#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "platform/event.h"
#include "support/manual_clock.h"

namespace platform {
namespace {

using testsupport::ManualClock;

// A real-time pause, long enough for a thread that should stay blocked to
// show that it did not.
void Settle() { std::this_thread::sleep_for(std::chrono::milliseconds(50)); }

TEST(ClockTest, TimedWaitEndsOnVirtualTimeOnly) {
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
}

TEST(ClockTest, LongSleepsFollowVirtualTime) {
  ManualClock clock;
  // Beyond the signed 32-bit range of milliseconds.
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

  // Two sleepers: time can jump straight to the earlier deadline.
  const int64_t start = clock.NowMs();
  std::atomic<int> woke{0};
  std::thread a([&] {
    clock.Sleep(2'147'483'000u);
    ++woke;
  });
  std::thread b([&] {
    clock.Sleep(2'147'483'647u);
    ++woke;
  });
  ASSERT_TRUE(clock.AwaitTimedWaiters(2));
  ASSERT_TRUE(clock.AdvanceToNextDeadline());
  a.join();
  EXPECT_EQ(clock.NowMs() - start, 2'147'483'000);
  Settle();
  EXPECT_EQ(woke, 1);
  ASSERT_TRUE(clock.AwaitTimedWaiters(1));
  ASSERT_TRUE(clock.AdvanceToNextDeadline());
  b.join();
  EXPECT_EQ(woke, 2);
  EXPECT_FALSE(clock.AdvanceToNextDeadline());
  EXPECT_FALSE(clock.AwaitTimedWaiters(1, 10));
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
  std::thread m1([&] {
    manual.Wait();
    ++released;
  });
  std::thread m2([&] {
    manual.Wait();
    ++released;
  });
  std::thread a1([&] {
    automatic.Wait();
    ++released;
  });
  std::thread a2([&] {
    automatic.Wait();
    ++released;
  });
  Settle();
  manual.Set();
  m1.join();
  m2.join();
  automatic.Set();
  Settle();
  EXPECT_EQ(released, 3);
  automatic.Set();
  a1.join();
  a2.join();
  EXPECT_EQ(released, 4);
}

TEST(ClockTest, MakeTimeKeepsToTheTimeValueRange) {
  RealClock clock;
  std::tm fields{};
  fields.tm_year = 1960 - 1900;
  fields.tm_mon = 5;
  fields.tm_mday = 15;
  fields.tm_hour = 12;
  EXPECT_EQ(clock.MakeTime(&fields), -1);
  fields = std::tm{};
  fields.tm_year = 2040 - 1900;
  fields.tm_mday = 1;
  EXPECT_EQ(clock.MakeTime(&fields), -1);

  fields = std::tm{};
  fields.tm_year = 2027 - 1900;
  fields.tm_mon = 5;
  fields.tm_mday = 15;
  fields.tm_hour = 12;
  const TimeValue t = clock.MakeTime(&fields);
  // Within a day of the UTC value, whatever the local time zone.
  EXPECT_NEAR(t, 1'813'060'800, 86'400);
  std::tm back{};
  ASSERT_TRUE(clock.LocalTime(t, &back));
  EXPECT_EQ(back.tm_year, 2027 - 1900);
  EXPECT_EQ(back.tm_mon, 5);
  EXPECT_EQ(back.tm_mday, 15);
  EXPECT_EQ(back.tm_hour, 12);
  EXPECT_FALSE(clock.LocalTime(-1, &back));
}

}  // namespace
}  // namespace platform
