// Libraries load from beside the executable first, as LoadLibraryA finds
// them in the application's folder.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/process_info.h"

namespace platform {
namespace {

TEST(DynamicLibraryPosixTest, LoadsBesideTheExecutableFirst) {
  EXPECT_EQ(LoadDynamicLibrary("dmiapi32.dll"), nullptr);
  EXPECT_EQ(FindEntryPoint(nullptr, "cos"), nullptr);
  LibraryHandle libm = LoadDynamicLibrary("libm.so.6");
  ASSERT_NE(libm, nullptr);
  void* cosine = FindEntryPoint(libm, "cos");
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(FindEntryPoint(libm, "NoSuchEntry"), nullptr);

  // dlopen alone never looks beside the executable for a bare name.
  Dl_info info;
  ASSERT_NE(dladdr(cosine, &info), 0);
  const std::string name = "schedexe-test-" + std::to_string(getpid()) + ".dll";
  const std::string beside = ExecutableDirectory() + "/" + name;
  std::filesystem::copy_file(info.dli_fname, beside);
  LibraryHandle copy = LoadDynamicLibrary(name.c_str());
  std::filesystem::remove(beside);
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(FindEntryPoint(copy, "cos"), nullptr);
}

}  // namespace
}  // namespace platform
