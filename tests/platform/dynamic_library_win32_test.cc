// The DMI libraries are optional: a missing library or entry point must come
// back as nullptr, never as a crash or a dialog.
#include "platform/dynamic_library.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(DynamicLibraryWin32Test, FoundOrNull) {
  LibraryHandle kernel = LoadDynamicLibrary("kernel32.dll");
  ASSERT_NE(kernel, nullptr);
  EXPECT_NE(FindEntryPoint(kernel, "GetTickCount"), nullptr);
  EXPECT_EQ(FindEntryPoint(kernel, "NoSuchEntryPoint"), nullptr);
  EXPECT_EQ(FindEntryPoint(nullptr, "GetTickCount"), nullptr);
  EXPECT_EQ(LoadDynamicLibrary("schedexe-no-such-library.dll"), nullptr);
}

}  // namespace
}  // namespace platform
