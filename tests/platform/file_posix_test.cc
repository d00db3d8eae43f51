// Linux-only corners of the file layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file.h"
#include "platform/testing.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;
namespace fs = std::filesystem;

TEST(FilePosixTest, ReplacementKeepsPermissions) {
  const std::string dir = pt::MakeTempDir("fileposix");
  const std::string file = dir + "/tarn.dat";
  std::ofstream(file) << "old";
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                            fs::perms::others_read | fs::perms::others_write);
  const fs::perms before = fs::status(file).permissions();
  std::string error;
  ASSERT_TRUE(ReplaceFileContents(file, "new", &error)) << error;
  EXPECT_EQ(fs::status(file).permissions(), before);
  fs::permissions(file, fs::perms::owner_read | fs::perms::owner_write);
  ASSERT_TRUE(ReplaceFileContents(file, "newer", &error)) << error;
  EXPECT_EQ(fs::status(file).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  pt::RemoveTree(dir);
}

}  // namespace
}  // namespace platform
