// Reads through kvbase return what the Windows profile functions return, on
// every backend; under Wine the compat test checks each case against Windows.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
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

// One string read and what it must give.
struct Read {
  const char* section;
  const char* key;
  const char* def;
  int size;
  std::string want;
};

class ProfileReadTest : public ::testing::Test {
 protected:
  ProfileReadTest() : scratch_("kvread"), file_(scratch_.Path("tarn.dat")) {}
  void TearDown() override { kvbase::SetCacheEnabledForTesting(true); }

  void ExpectReads(const std::string& file, const std::vector<Read>& reads) {
    for (const Read& r : reads) {
      EXPECT_EQ(Get(file, r.section, r.key, r.def, r.size), r.want)
          << "[" << r.section << "] " << r.key << " size " << r.size;
    }
  }

  ScratchDir scratch_;
  std::string file_;
};

TEST_F(ProfileReadTest, LinesNamesAndValuesParseAsWindowsDoes) {
  // The facts the service leans on most; the compat test checks every case
  // against Windows itself.
  const std::string v200(200, 'y');
  const std::vector<std::pair<std::string, std::vector<Read>>> files = {
      {"Outside=top\r\n  [ Scheduler Profile 3 ]  trailing text\r\n"
       "  Hour  =  9 ; not a comment  \r\nName=\"a b\"\r\nMixed=\"text'\r\nhour=dup\r\n"
       "[scheduler profile 3]\nOnly=second copy\n[M]\rk=cr\rj=2",
       {{"  scheduler PROFILE 3\t", " HOUR ", "", 80, "9 ; not a comment"},
        {"Scheduler Profile 3", "Name", "", 80, "a b"},
        {"Scheduler Profile 3", "Mixed", "", 80, "\"text'"},
        // Only the first section of a name is searched; defaults lose
        // trailing blanks.
        {"Scheduler Profile 3", "Only", "dflt  ", 80, "dflt"},
        // Keys before any header belong to the nameless section.
        {"", "Outside", "", 80, "top"},
        // Old Mac files: lines end at a lone CR.
        {"M", "j", "", 80, "2"}}},
      // A buffer of n bytes takes n-1 characters, quotes removed first.
      {"[S]\nV200=" + v200 + "\nQ=\"abcd\"\n",
       {{"S", "V200", "", 80, v200.substr(0, 79)},
        {"S", "V200", "", 256, v200},
        {"S", "V200", "", 1, ""},
        {"S", "Q", "", 3, "ab"}}},
  };
  for (const auto& [contents, reads] : files) {
    WriteBytes(file_, contents);
    ExpectReads(file_, reads);
  }

  // The return values and a buffer of no bytes.
  char untouched[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(TARNG_GetProfileString("S", "V200", "", untouched, 0, file_.c_str()), 0);
  EXPECT_EQ(untouched[0], '#');
  char small[8];
  EXPECT_EQ(TARNG_GetProfileString("S", "V200", "", small, 8, file_.c_str()), 7);
  EXPECT_EQ(TARNG_GetProfileString("S", "V200", "", nullptr, 8, file_.c_str()), 0);

  WriteBytes(file_, "[N]\nDec=-42\nLead=0010\nHex=0x1F\nEmpty=\n");
  for (const auto& [key, want] : {std::pair{"Dec", -42}, {"Lead", 10}, {"Hex", 31}, {"Empty", -99}})
    EXPECT_EQ(TARNG_GetProfileInt("N", key, -99, file_.c_str()), want) << key;
}

TEST_F(ProfileReadTest, MissingOrUnreadableFilesGiveTheDefault) {
  const std::string missing = scratch_.Path("missing.dat");
  const std::string no_folder = scratch_.Path("nope") + platform::testing::Sep() + "x.dat";
  // A folder where the file should be reads as nothing there.
  for (const std::string& file : {missing, no_folder, scratch_.dir()}) {
    ExpectReads(file, {{"S", "K", "dflt ", 80, "dflt"}});
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
  // NUL bytes end a name or value, as in a C string.
  WriteBytes(file_, std::string("[S\0x]\nK=ab\0cd\n", 14));
  EXPECT_EQ(Get(file_, "S", "K"), "ab");
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

TEST_F(ProfileReadTest, NullNamesListWithoutOverflow) {
  WriteBytes(file_, "[One]\na=1\n;c=2\nbare\nbb=3\n[Two]\n");
  char buf[32];
  for (int size = 1; size < 8; ++size) {
    std::fill(std::begin(buf), std::end(buf), '#');
    TARNG_GetProfileString("One", nullptr, "", buf, size, file_.c_str());
    TARNG_GetProfileString(nullptr, "a", "", buf, size, file_.c_str());
    EXPECT_EQ(buf[size], '#') << size;
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
