#include "platform/service_control_client.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

// Closing a window that is not there fails with a reason on both systems
// (the closing itself is driven end to end under Wine with an X server).
TEST(ServiceControlClientTest, AClassWithoutAWindowIsRefused) {
  uint32_t error = 0;
  EXPECT_FALSE(CloseWindowOfClass("schedExe test class with no window", &error));
  EXPECT_NE(error, 0u);
}

}  // namespace
}  // namespace platform
