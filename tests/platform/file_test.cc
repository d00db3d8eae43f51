// The file layer under kvbase: stamps, the writers' lock and replacement.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <thread>

#include "platform/log.h"
#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

using testsupport::WriteBytes;

class FileTest : public ::testing::Test {
 protected:
  std::string In(const std::string& name) const { return scratch_.Path(name); }
  std::ptrdiff_t Entries() const {
    return std::distance(std::filesystem::directory_iterator(dir_), {});
  }

  testsupport::ScratchDir scratch_{"file"};
  const std::string& dir_ = scratch_.dir();
  const std::string file_ = In("data.dat");
};

TEST_F(FileTest, PathsStampsAndReads) {
  EXPECT_EQ(NativePath("a\\b\\c.dat"), "a" + pt::Sep() + "b" + pt::Sep() + "c.dat");
  EXPECT_EQ(NativePath(""), "");

  FileStamp stamp;
  std::string data = "junk";
  EXPECT_EQ(StatFile(file_, &stamp), FileStatus::kMissing);
  EXPECT_EQ(ReadFileContents(file_, &data, &stamp), FileStatus::kMissing);
  EXPECT_EQ(data, "");
  EXPECT_EQ(StatFile(In("no") + pt::Sep() + "x", &stamp), FileStatus::kMissing);
  EXPECT_TRUE(ParentFolderExists(file_));
  EXPECT_FALSE(ParentFolderExists(In("no") + pt::Sep() + "x"));

  WriteBytes(file_, std::string("a\0b", 3));
  FileStamp before, read_stamp;
  ASSERT_EQ(StatFile(file_, &before), FileStatus::kOk);
  ASSERT_EQ(ReadFileContents(file_, &data, &read_stamp), FileStatus::kOk);
  EXPECT_EQ(data, std::string("a\0b", 3));
  EXPECT_EQ(before, read_stamp);
  EXPECT_EQ(before.size, 3u);

  // A replacement of the same size is still a new stamp.
  std::string error;
  ASSERT_TRUE(ReplaceFileContents(file_, "xyz", &error)) << error;
  FileStamp after;
  ASSERT_EQ(StatFile(file_, &after), FileStatus::kOk);
  EXPECT_NE(before, after);
  EXPECT_EQ(pt::FileContents(file_), "xyz");
}

TEST_F(FileTest, SpecialFilesAreRefusedAtOnce) {
  for (const pt::SpecialFile& special : pt::MakeSpecialFiles(dir_)) {
    std::string data = "junk";
    FileStatus read = FileStatus::kOk, stat = FileStatus::kOk;
    uint32_t os_error = 1;
    EXPECT_TRUE(pt::EndsUnaided(
        [&] {
          FileStamp stamp;
          read = ReadFileContents(special.path, &data, &stamp);
          os_error = LastOsError();
          stat = StatFile(special.path, &stamp);
        },
        {special}))
        << special.what;
    EXPECT_EQ(read, FileStatus::kError) << special.what;
    EXPECT_EQ(os_error, 0u) << special.what << ": not told from a failed open";
    EXPECT_EQ(data, "") << special.what;
    EXPECT_EQ(stat, FileStatus::kError) << special.what;
  }
}

TEST_F(FileTest, ReplaceLeavesNothingBehind) {
  // A folder in the way fails, with a reason, and leaves no temporary file.
  // (A file created, then replaced, leaving only itself: kvbase's tests.)
  std::string error;
  std::filesystem::create_directory(In("sub"));
  EXPECT_FALSE(ReplaceFileContents(In("sub"), "x", &error));
  EXPECT_FALSE(error.empty());
  error.clear();
  EXPECT_FALSE(ReplaceFileContents(In("no") + pt::Sep() + "x", "x", &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Entries(), 1);

  // What a dead writer left is cleared; other files are not touched.
  WriteBytes(file_, "two");
  WriteBytes(In(".data.dat.123.4.kvtmp"), "stale");
  for (const char* other : {".other.dat.1.1.kvtmp", "data.dat.bak"}) WriteBytes(In(other), "keep");
  RemoveStaleTemporaries(file_);
  EXPECT_FALSE(std::filesystem::exists(In(".data.dat.123.4.kvtmp")));
  EXPECT_EQ(Entries(), 4);
  EXPECT_EQ(pt::FileContents(file_), "two");
}

TEST_F(FileTest, WriteLockIsExclusive) {
  std::string error;
  auto held = FileWriteLock::Acquire(file_, &error);
  ASSERT_NE(held, nullptr) << error;
  EXPECT_FALSE(std::filesystem::exists(file_)) << "locking must not create the file";

  std::atomic<bool> second_got_it{false};
  std::thread other([&] {
    std::string e;
    auto lock = FileWriteLock::Acquire(file_, &e);
    second_got_it = lock != nullptr;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_FALSE(second_got_it) << "a second writer got in while the lock was held";
  held.reset();
  other.join();
  EXPECT_TRUE(second_got_it);

  EXPECT_EQ(FileWriteLock::Acquire(In("no") + pt::Sep() + "x", &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Entries(), 0) << "the lock leaves nothing in the folder";
}

}  // namespace
}  // namespace platform
