// Writes through a linked data file: a symbolic link stays a link to the file
// it names, and hard links keep sharing one file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/temporary_names.h"
#include "tests/kvbase/profile_test_util.h"

namespace kvbase_test {
namespace {

namespace fs = std::filesystem;

struct stat Lstat(const std::string& path) {
  struct stat st {};
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(ProfileLinksTest, LinkedFilesAreWrittenThrough) {
  ScratchDir scratch("kvlinks");
  const std::string link = scratch.Path("a/tarn.dat"), target = scratch.Path("b/real.dat");
  fs::create_directories(scratch.Path("a"));
  fs::create_directories(scratch.Path("b"));
  // A writer that died left its temporary file beside the target.
  const std::string stale = scratch.Path("b/" + platform::TemporaryName("real.dat", 1, 1));
  struct Case {
    const char* kind;
    std::string names;  // what the link holds; empty for a hard link
  };
  for (const Case& c :
       {Case{"relative", "../b/real.dat"}, Case{"absolute", target}, Case{"hard", ""}}) {
    fs::remove(link);
    WriteBytes(target, "[S]\nK=old\n");
    WriteBytes(stale, "");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    if (c.names.empty()) {
      fs::create_hard_link(target, link);
    } else {
      fs::create_symlink(c.names, link);
    }
    const ino_t inode = Lstat(target).st_ino;
    ASSERT_TRUE(TARNG_WriteProfileString("S", "K", "new", link.c_str())) << c.kind;
    EXPECT_EQ(FileContents(target), "[S]\nK=new\n") << c.kind;
    EXPECT_EQ(Get(link, "S", "K"), "new") << c.kind;
    EXPECT_EQ(Lstat(target).st_mode & 07777, 0640u) << c.kind;
    if (c.names.empty()) {
      EXPECT_EQ(Lstat(target).st_ino, inode);
      EXPECT_EQ(Lstat(link).st_ino, inode);
      EXPECT_EQ(Lstat(link).st_nlink, 2u);
    } else {
      EXPECT_FALSE(fs::exists(stale)) << c.kind;  // the write worked beside the target
      ASSERT_TRUE(fs::is_symlink(link)) << c.kind;
      EXPECT_EQ(fs::read_symlink(link), c.names);
    }
  }
}

}  // namespace
}  // namespace kvbase_test
