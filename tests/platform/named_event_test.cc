// The reload event: auto reset, shared by name between processes, and kept
// with its state when the scheduler creates it a second time.
#include "platform/named_event.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/process_info.h"
#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

class NamedEventTest : public ::testing::Test {
 protected:
  ~NamedEventTest() override { pt::RemoveNamedEvent(name_); }

  // The signalling tool's exit code; what it said goes to *said.
  static int Signal(const std::string& name, std::string* said = nullptr,
                    std::vector<std::string> args = {}) {
    args.insert(args.begin(), {"--name", name});
    testsupport::ScratchDir scratch("signal");
    const std::string out = scratch.Path("out.txt");
    auto child = pt::ChildProcess::Start(
        ExecutableDirectory() + pt::Sep() + "tarnsched-signal" + pt::ExeSuffix(), args, out);
    const int code = child ? child->Wait() : -2;
    if (said) *said = pt::FileContents(out);
    return code;
  }

  // Unique per run, never "TARNSCHED": a scheduler may be running here.
  const std::string name_ = testsupport::UniqueName("SchedExeTest");
};

TEST_F(NamedEventTest, AutoResetAndKeptAcrossCreate) {
  EXPECT_EQ(NamedEvent::Open(name_.c_str()), nullptr);
  EXPECT_FALSE(pt::NamedEventHasNullDacl(name_)) << "no such event yet";
  auto created = NamedEvent::Create(name_.c_str());
  ASSERT_NE(created, nullptr);
  EXPECT_FALSE(created->Wait(0)) << "created signalled";
  // The service runs as LocalSystem; the agent's programs of any user must
  // still be able to open and signal it.
  EXPECT_TRUE(pt::NamedEventHasNullDacl(name_));

  EXPECT_TRUE(created->Set());
  EXPECT_TRUE(created->Set());  // two signals before a wait are one
  EXPECT_TRUE(created->Wait(0));
  EXPECT_FALSE(created->Wait(0)) << "the wait must reset the event";

  // Opened for signalling only, which a null DACL grants as well.
  auto opened = NamedEvent::Open(name_.c_str());
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(opened->Set());
  // Creating it again opens the same event and keeps the signal.
  auto again = NamedEvent::Create(name_.c_str());
  ASSERT_NE(again, nullptr);
  EXPECT_TRUE(again->Wait(0));
  EXPECT_FALSE(created->Wait(0));

  // Signalled from another process; the service's end to end tests take
  // their reloads this way. Nobody created the second one: the signaller
  // fails and creates nothing.
  // It says whether a holder took the signal.
  std::string said;
  ASSERT_EQ(Signal(name_, &said), 0);
  EXPECT_NE(said.find("the running scheduler will reload"), std::string::npos) << said;
  EXPECT_TRUE(created->Wait(10'000));
  const std::string missing = name_ + "-missing";
  EXPECT_EQ(Signal(missing, &said), 1);
  EXPECT_NE(said.find("no scheduler is running"), std::string::npos) << said;
  EXPECT_NE(said.find("nothing was signalled"), std::string::npos) << said;
  // Made by the tool itself, the event reaches no scheduler, says so, and
  // is gone with the tool.
  EXPECT_EQ(Signal(missing, &said, {"--create"}), 0);
  EXPECT_NE(said.find("no scheduler is running"), std::string::npos) << said;
  EXPECT_EQ(NamedEvent::Open(missing.c_str()), nullptr);
  pt::RemoveNamedEvent(missing);
  EXPECT_EQ(NamedEvent::Open(missing.c_str()), nullptr);

  // It lives as long as a handle does: signalled, then closed by all, it is
  // gone, and made again it starts unsignalled.
  EXPECT_TRUE(created->Set());
  created.reset();
  opened.reset();
  again.reset();
  EXPECT_EQ(NamedEvent::Open(name_.c_str()), nullptr);
  EXPECT_EQ(Signal(name_), 1);
  auto renewed = NamedEvent::Create(name_.c_str());
  ASSERT_NE(renewed, nullptr);
  EXPECT_FALSE(renewed->Wait(0));
}

}  // namespace
}  // namespace platform
