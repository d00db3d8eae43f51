// The reload event's security: the service runs as LocalSystem, and the
// agent's programs of any user must still be able to signal it.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/named_event.h"
#include "platform/testing.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

TEST(NamedEventWin32Test, OpenToEveryUser) {
  const std::string name =
      "SchedExeTest-dacl-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  EXPECT_FALSE(pt::NamedEventHasNullDacl(name)) << "no such event yet";
  auto event = NamedEvent::Create(name.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(pt::NamedEventHasNullDacl(name));
  // Opened for signalling only, which a null DACL grants as well.
  auto opened = NamedEvent::Open(name.c_str());
  ASSERT_NE(opened, nullptr);
  EXPECT_TRUE(opened->Set());
  EXPECT_TRUE(event->Wait(0));
}

}  // namespace
}  // namespace platform
