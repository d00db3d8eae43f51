#include "config/data_file_path.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "support/fake_env.h"
#include "support/manual_clock.h"

namespace config {
namespace {

class DataFilePathTest : public ::testing::Test {
 protected:
  testsupport::ManualClock clock_;
  testsupport::ScopedSystemClock installed_{clock_};
  testsupport::FakeEnv env_;
};

TEST_F(DataFilePathTest, PathIsTheDirectoryValueWithTheFileNameAppended) {
  // Missing key: the empty path at once.
  EXPECT_EQ(ReadDataFilePath(), "");
  EXPECT_EQ(env_.registry_reads(), 1);
  env_.SetValue(kDataDirectoryKey, kDataDirectoryValue, "C:\\Dats\\");
  // Joined as it stands: a trailing backslash gives two.
  EXPECT_EQ(ReadDataFilePath(), "C:\\Dats\\\\tarn.dat");
  env_.SetValue(kDataDirectoryKey, kDataDirectoryValue, std::string(1014, 'p'));
  EXPECT_EQ(ReadDataFilePath().size(), 1023u);
}

TEST_F(DataFilePathTest, UnreadableValueIsRetriedWithGrowingPauses) {
  env_.AddKey(kDataDirectoryKey);
  // A value too long to hold the file name is never cut into a path; it is
  // treated like a value not written yet.
  env_.SetValue(kDataDirectoryKey, kDataDirectoryValue, std::string(1015, 'p'));
  std::string path;
  std::thread reader([&] { path = ReadDataFilePath(); });
  const int64_t start = clock_.NowMs();
  // Ten failed reads, each followed by a pause in virtual time.
  for (int failures = 1; failures <= 10; ++failures) {
    // The reader sleeps again only after it has read once more.
    ASSERT_TRUE(clock_.AwaitTimedWaiters(1));
    ASSERT_EQ(env_.registry_reads(), failures);
    if (failures == 10) env_.SetValue(kDataDirectoryKey, kDataDirectoryValue, "D:");
    ASSERT_TRUE(clock_.AdvanceToNextDeadline());
  }
  reader.join();
  EXPECT_EQ(path, "D:\\tarn.dat");
  EXPECT_EQ(env_.registry_reads(), 11);
  // 50, 100, ... 3200 ms, then capped at 5 s: never a busy loop.
  EXPECT_EQ(clock_.NowMs() - start, 50 + 100 + 200 + 400 + 800 + 1600 + 3200 + 5000 + 5000 + 5000);
}

}  // namespace
}  // namespace config
