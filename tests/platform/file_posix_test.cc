// Linux-only corners of the file layer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/file.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

TEST(FilePosixTest, ReplacementKeepsPermissions) {
  testsupport::ScratchDir dir("fileposix");
  const std::string file = dir.Path("tarn.dat");
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
}

}  // namespace
}  // namespace platform
