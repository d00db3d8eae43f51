// The set-up of the tests that run the engine against a scratch agent: virtual
// time in UTC, a recorded Env, a data folder, and the commands sent so far.
#ifndef SCHEDEXE_TESTS_SUPPORT_ENGINE_FIXTURE_H_
#define SCHEDEXE_TESTS_SUPPORT_ENGINE_FIXTURE_H_

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/event_queue.h"
#include "engine/scheduler_host.h"
#include "support/data_dir.h"
#include "support/fake_env.h"
#include "support/manual_clock.h"
#include "support/virtual_time.h"

namespace testsupport {

// 2027-04-14 10:20:00 UTC, a Wednesday: "now" when an agent test starts.
constexpr platform::TimeValue kAgentStart = 1807698000;

class AgentTest : public ::testing::Test {
 protected:
  explicit AgentTest(const std::string& tag) : data_(env_, tag) {}

  // The commands sent since the last call.
  std::vector<std::string> NewCommands() {
    std::vector<std::string> all = data_.Commands();
    all.erase(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(seen_));
    seen_ += all.size();
    return all;
  }

  UtcManualTime utc_{kAgentStart};
  ManualClock& clock_ = utc_.clock;
  FakeEnv env_;
  DataDir data_;
  size_t seen_ = 0;
};

// An AgentTest with a host on a queue of its own, run in virtual time.
class EngineTest : public AgentTest {
 protected:
  using AgentTest::AgentTest;
  // The host starts after the test's constructor has set up the Env.
  void SetUp() override {
    host_ = std::make_unique<engine::SchedulerHost>(&queue_);
    time_.emplace(clock_, host_->scheduler().threads());
  }
  ~EngineTest() override { EXPECT_TRUE(TakeDown(host_)) << "engine threads did not end"; }

  // Queues the event as the worker would, and lets the engine settle.
  void Add(const schedule::ScheduleEvent& event) {
    ASSERT_TRUE(time_->Run([this, event] { host_->AddEvent(event); }));
  }

  engine::EventQueue queue_;
  std::unique_ptr<engine::SchedulerHost> host_;
  std::optional<VirtualTime> time_;
};

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_ENGINE_FIXTURE_H_
