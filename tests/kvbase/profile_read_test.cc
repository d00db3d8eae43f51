// Reads through kvbase on every backend: buffers, missing and unreadable
// files, hostile files and the cache. How lines, names and values parse is
// compared with Windows itself, case by case, under Wine (the compat test).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kvbase/profile.h"
#include "platform/log.h"
#include "platform/testing.h"
#include "support/log_capture.h"
#include "tests/kvbase/profile_test_util.h"

namespace kvbase_test {
namespace {

class ProfileReadTest : public ::testing::Test {
 protected:
  ProfileReadTest() : scratch_("kvread"), file_(scratch_.Path("tarn.dat")) {}
  void TearDown() override { kvbase::SetCacheEnabledForTesting(true); }

  ScratchDir scratch_;
  std::string file_;
};

TEST_F(ProfileReadTest, BuffersOfNoBytesAreLeftAlone) {
  WriteBytes(file_, "[S]\nK=value\n");
  char untouched[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(TARNG_GetProfileString("S", "K", "", untouched, 0, file_.c_str()), 0);
  EXPECT_EQ(untouched[0], '#');
  EXPECT_EQ(TARNG_GetProfileString("S", "K", "", nullptr, 8, file_.c_str()), 0);
}

TEST_F(ProfileReadTest, MissingOrUnreadableFilesGiveTheDefault) {
  const std::string missing = scratch_.Path("missing.dat");
  const std::string no_folder = scratch_.Path("nope") + platform::testing::Sep() + "x.dat";
  for (const std::string& file : {missing, no_folder}) {
    EXPECT_EQ(Get(file, "S", "K", "dflt "), "dflt") << file;
    EXPECT_EQ(TARNG_GetProfileInt("S", "K", 42, file.c_str()), 42) << file;
  }
  EXPECT_FALSE(Exists(missing)) << "reading must never create the file";
  // Nor does a FIFO, a device or a folder hold a reader or a writer: reads
  // give the default at once, writes fail, and the log says so once.
  testsupport::LogCapture log;
  for (const platform::testing::SpecialFile& special :
       platform::testing::MakeSpecialFiles(scratch_.dir())) {
    const char* file = special.path.c_str();
    std::vector<std::string> texts;
    std::vector<int> numbers;
    int written = -1;
    EXPECT_TRUE(platform::testing::EndsUnaided(
        [&] {
          for (int i = 0; i < 3; ++i) {
            texts.push_back(Get(special.path, "S", "K", "dflt"));
            numbers.push_back(TARNG_GetProfileInt("S", "K", 42, file));
          }
          written = TARNG_WriteProfileString("S", "K", "v", file);
        },
        {special}))
        << special.what;
    EXPECT_EQ(texts, std::vector<std::string>(3, "dflt")) << special.what;
    EXPECT_EQ(numbers, std::vector<int>(3, 42)) << special.what;
    EXPECT_EQ(written, 0) << special.what;
    EXPECT_EQ(log.Count(platform::LogLevel::kError, {"cannot read data file " + special.path}), 1)
        << special.what;
  }
}

// Also what the sanitizer builds, Linux only, watch.
TEST_F(ProfileReadTest, HostileFilesNeitherCrashNorLeak) {
  // A line of megabytes, and a value longer than any buffer.
  WriteBytes(file_, "[Big]\nK=" + std::string(4 << 20, 'v') + "\nAfter=ok\n");
  EXPECT_EQ(Get(file_, "Big", "K", "", 256), std::string(255, 'v'));
  EXPECT_EQ(Get(file_, "Big", "After"), "ok");
  // Random bytes: any outcome but a crash or a write past the buffer.
  std::mt19937 rng(1234);
  for (int round = 0; round < 20; ++round) {
    std::string junk(4096, '\0');
    for (char& c : junk) c = static_cast<char>(rng() % 256);
    WriteBytes(file_, junk + "\n[S]\nK=found");
    EXPECT_EQ(Get(file_, "S", "K", "", 16).substr(0, 5), "found");
    Get(file_, "S", "Other", "", 2);
    TARNG_GetProfileInt("S", "K", 0, file_.c_str());
  }
}

TEST_F(ProfileReadTest, CacheNeverReturnsStaleData) {
  // Another program rewrites the file in place, same size, within the same
  // clock tick: the next read must see it.
  for (int i = 0; i < 50; ++i) {
    const std::string v = (i % 2) ? "bbbb" : "cccc";
    WriteBytes(file_, "[S]\nK=" + v + "\n");
    ASSERT_EQ(Get(file_, "S", "K"), v) << i;
  }

  // Rewritten in place, same size, with its old modification time put back
  // (touch -r, or an editor that keeps times), long after it was last read.
  namespace fs = std::filesystem;
  const auto old_time = fs::file_time_type::clock::now() - std::chrono::hours(1);
  for (const std::string v : {"1111", "2222"}) {
    std::fstream(file_, std::ios::in | std::ios::out | std::ios::binary).seekp(6) << v;
    fs::last_write_time(file_, old_time);
    ASSERT_EQ(Get(file_, "S", "K"), v);
  }

  // Readers on many threads at once while a writer changes the file.
  std::vector<std::thread> threads;
  std::atomic<bool> bad{false};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        char buf[80];
        TARNG_GetProfileString("S", "K", "", buf, sizeof buf, file_.c_str());
        if (std::string(buf).size() != 4) bad = true;
      }
    });
  }
  for (int i = 0; i < 30; ++i)
    TARNG_WriteProfileString("S", "K", (i % 2) ? "eeee" : "ffff", file_.c_str());
  for (auto& t : threads) t.join();
  EXPECT_FALSE(bad);
  EXPECT_EQ(Get(file_, "S", "K"), "eeee");

  // The cache and a fresh parse agree.
  kvbase::SetCacheEnabledForTesting(false);
  EXPECT_EQ(Get(file_, "S", "K"), "eeee");
}

}  // namespace
}  // namespace kvbase_test
