// Windows-only corners of the file layer.
#include <windows.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <string>

#include "platform/file.h"
#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

TEST(FileWin32Test, FileHeldOpenWithoutDeleteSharingIsRewrittenInPlace) {
  testsupport::ScratchDir dir("filewin");
  const std::string file = dir.Path("held.dat");
  std::string error;
  ASSERT_TRUE(ReplaceFileContents(file, "old contents", &error)) << error;
  // Another program keeps the file open and does not allow it to be
  // renamed over: the rename fails, the contents must change all the same.
  HANDLE h = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(ReplaceFileContents(file, "new", &error)) << error;
  CloseHandle(h);
  EXPECT_EQ(pt::FileContents(file), "new");
  // Nothing was left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.dir()), {}), 1);
}

}  // namespace
}  // namespace platform
