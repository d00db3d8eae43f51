#include "engine/scheduler.h"

#include <gtest/gtest.h>

#include "support/virtual_time.h"

namespace engine {
namespace {

TEST(SchedulerTest, WakeWaitsASecondUnlessASignalIsPending) {
  testsupport::ManualClock clock;
  testsupport::ScopedSystemClock installed(clock);
  {
    Scheduler scheduler(nullptr, nullptr);
    testsupport::VirtualTime time(clock, scheduler.threads());
    scheduler.ClearPending();
    const int64_t start = clock.NowMs();

    time.Do([&] { scheduler.Wake(); });
    ASSERT_TRUE(time.AwaitQuiet());
    EXPECT_EQ(clock.EarliestDeadline(), start + 1000);
    EXPECT_FALSE(scheduler.IsPending());
    ASSERT_TRUE(time.RunFor(999));
    EXPECT_FALSE(scheduler.IsPending());
    ASSERT_TRUE(time.RunFor(1));
    EXPECT_EQ(scheduler.threads().Live(), 0);
    EXPECT_TRUE(scheduler.IsPending());
    EXPECT_TRUE(scheduler.WakeSignalled());

    // The second Wake takes the first one's signal at once and signals again.
    time.Do([&] { scheduler.Wake(); });
    ASSERT_TRUE(time.AwaitQuiet());
    EXPECT_EQ(scheduler.threads().Live(), 0);
    EXPECT_EQ(clock.NowMs(), start + 1000);
    EXPECT_TRUE(scheduler.WakeSignalled());
  }
}

}  // namespace
}  // namespace engine
