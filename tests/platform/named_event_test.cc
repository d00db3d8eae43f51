// The reload event: auto reset, shared by name between processes, and kept
// with its state when the scheduler creates it a second time.
#include "platform/named_event.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>

#include "platform/process_info.h"
#include "platform/testing.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

class NamedEventTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Unique per run, never "TARNSCHED": a scheduler may be running here.
    name_ = "SchedExeTest-" + std::to_string(std::random_device()()) + "-" +
            std::to_string(
                std::chrono::steady_clock::now().time_since_epoch().count());
  }
  void TearDown() override { pt::RemoveNamedEvent(name_); }

  int Signal(const std::string& name) {
    auto child =
        pt::ChildProcess::Start(ExecutableDirectory() + pt::Sep() +
                                    "tarnsched-signal" + pt::ExeSuffix(),
                                {"--name", name});
    return child ? child->Wait() : -2;
  }

  std::string name_;
};

TEST_F(NamedEventTest, AutoResetAndKeptAcrossCreate) {
  EXPECT_EQ(NamedEvent::Open(name_.c_str()), nullptr);
  auto created = NamedEvent::Create(name_.c_str());
  ASSERT_NE(created, nullptr);
  EXPECT_FALSE(created->Wait(0)) << "created signalled";

  EXPECT_TRUE(created->Set());
  EXPECT_TRUE(created->Set());  // two signals before a wait are one
  EXPECT_TRUE(created->Wait(0));
  EXPECT_FALSE(created->Wait(0)) << "the wait must reset the event";

  auto opened = NamedEvent::Open(name_.c_str());
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(opened->Set());
  // Creating it again opens the same event and keeps the signal.
  auto again = NamedEvent::Create(name_.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->Wait(0));
  EXPECT_FALSE(created->Wait(0));
}

TEST_F(NamedEventTest, SignalledByAnotherProcess) {
  auto event = NamedEvent::Create(name_.c_str());
  ASSERT_NE(event, nullptr);
  ASSERT_EQ(Signal(name_), 0);
  EXPECT_TRUE(event->Wait(10'000));
  EXPECT_FALSE(event->Wait(0));

  // Nobody created this one: the signaller fails and creates nothing.
  const std::string missing = name_ + "-missing";
  EXPECT_EQ(Signal(missing), 1);
  EXPECT_EQ(NamedEvent::Open(missing.c_str()), nullptr);
}

}  // namespace
}  // namespace platform
