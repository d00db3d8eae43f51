// A name that is not beside the executable is handed to dlopen as given, as
// LoadLibraryA goes on to the system's folders. (The lookup beside the
// executable is proven on both backends by the DMI stand-in libraries.)
#include <gtest/gtest.h>

#include "platform/dynamic_library.h"

namespace platform {
namespace {

TEST(DynamicLibraryPosixTest, ANameNotBesideTheExecutableLoadsAsGiven) {
  LibraryHandle libm = LoadDynamicLibrary("libm.so.6");
  ASSERT_NE(libm, nullptr);
  EXPECT_NE(FindEntryPoint(libm, "cos"), nullptr);
  EXPECT_EQ(FindEntryPoint(nullptr, "cos"), nullptr);
}

}  // namespace
}  // namespace platform
