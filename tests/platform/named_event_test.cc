// The reload event: open to every user, signalled by name from another
// process, and gone with its last handle. Its auto reset, and the signal
// kept when the scheduler creates it again, show in the worker's reloads.
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

TEST_F(NamedEventTest, OpenToAllSignalledByNameAndGoneWithItsLastHandle) {
  EXPECT_EQ(NamedEvent::Open(name_.c_str()), nullptr);
  EXPECT_FALSE(pt::NamedEventHasNullDacl(name_)) << "no such event yet";
  auto created = NamedEvent::Create(name_.c_str());
  ASSERT_NE(created, nullptr);
  EXPECT_FALSE(created->Wait(0)) << "created signalled";
  // The service runs as LocalSystem; the agent's programs of any user must
  // still be able to open and signal it.
  EXPECT_TRUE(pt::NamedEventHasNullDacl(name_));

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

  // It lives as long as a handle does: signalled, then closed by all, it is
  // gone, and made again it starts unsignalled.
  EXPECT_TRUE(created->Set());
  created.reset();
  EXPECT_EQ(NamedEvent::Open(name_.c_str()), nullptr);
  EXPECT_EQ(Signal(name_), 1);
  auto renewed = NamedEvent::Create(name_.c_str());
  ASSERT_NE(renewed, nullptr);
  EXPECT_FALSE(renewed->Wait(0));
}

}  // namespace
}  // namespace platform
