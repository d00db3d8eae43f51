// Reads through kvbase return what the Windows profile functions return.
// (Under Wine the compat test checks the same against Windows itself; these
// tables hold the cases that matter to the service on every backend.)
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kvbase/profile.h"
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
  const std::string v79(79, 'x'), v200(200, 'y');
  const std::vector<std::pair<std::string, std::vector<Read>>> files = {
      {"Outside=top\r\n  [ Scheduler Profile 3 ]  trailing text\r\n"
       "  Hour  =  9 ; not a comment  \r\nName=\"a b\"\r\nSingle='x y'\r\n"
       "Unbalanced=\"open\r\nLone=\"\r\nEmpty=\"\"\r\nMixed=\"text'\r\n"
       "Inner=a \"b\" c\r\nEq=a=b\r\n[Tab]\tjunk]more\nk=v\n",
       {{"Scheduler Profile 3", "Hour", "", 80, "9 ; not a comment"},
        {"  scheduler PROFILE 3\t", " HOUR ", "", 80, "9 ; not a comment"},
        {"Scheduler Profile 3", "Name", "", 80, "a b"},
        {"Scheduler Profile 3", "Single", "", 80, "x y"},
        {"Scheduler Profile 3", "Unbalanced", "", 80, "\"open"},
        {"Scheduler Profile 3", "Lone", "", 80, "\""},
        {"Scheduler Profile 3", "Empty", "d", 80, ""},
        {"Scheduler Profile 3", "Mixed", "", 80, "\"text'"},
        {"Scheduler Profile 3", "Inner", "", 80, "a \"b\" c"},
        {"Scheduler Profile 3", "Eq", "", 80, "a=b"},
        // Keys before any header belong to the nameless section.
        {"", "Outside", "", 80, "top"},
        // The name ends at the last ']' of the line.
        {"Tab]\tjunk", "k", "", 80, "v"},
        {"Tab", "k", "none", 80, "none"}}},
      // The first section of a name is the only one searched; the first key
      // wins. Line ends of every style, a lone CR included.
      {"[A]\nKey=first\nkey=second\n[B]\r\nKey=b\r\n[a]\nKey=third\nOnly=second copy\n"
       "[C]\r\nz=mixed\n[M]\rk=cr\rj=2\r[D]\nlast=no newline",
       {{"A", "KEY", "", 80, "first"},
        {"B", "Key", "", 80, "b"},
        {"A", "Only", "dflt", 80, "dflt"},
        {"C", "z", "", 80, "mixed"},
        {"M", "k", "", 80, "cr"},
        {"M", "j", "", 80, "2"},
        {"D", "last", "", 80, "no newline"}}},
      // Defaults lose trailing blanks, and only blanks.
      {"[S]\nK=v\nV79=" + v79 + "\nV200=" + v200 + "\nQ=\"abcd\"\n",
       {{"S", "Nope", "dflt  ", 80, "dflt"},
        {"Nope", "K", "d e ", 80, "d e"},
        {"S", "Nope", nullptr, 80, ""},
        {"S", "Nope", "tab\t", 80, "tab\t"},
        // A buffer of n bytes takes n-1 characters, quotes removed first.
        {"S", "V79", "", 80, v79},
        {"S", "V200", "", 80, v200.substr(0, 79)},
        {"S", "V200", "", 256, v200},
        {"S", "V200", "", 1, ""},
        {"S", "V200", "", 2, "y"},
        {"S", "Q", "", 6, "abcd"},
        {"S", "Q", "", 3, "ab"}}},
      // NUL bytes end a name or value, as in a C string.
      {std::string("[S\0x]\nK=ab\0cd\nL=\0\n", 19),
       {{"S", "K", "", 80, "ab"}, {"S", "L", "d", 80, ""}}},
      {"", {{"S", "K", "dflt", 80, "dflt"}}},
  };
  for (const auto& [contents, reads] : files) {
    WriteBytes(file_, contents);
    ExpectReads(file_, reads);
  }

  // The return values and a buffer of no bytes.
  WriteBytes(file_, "[S]\nV200=" + v200 + "\n");
  char untouched[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(TARNG_GetProfileString("S", "V200", "", untouched, 0, file_.c_str()), 0);
  EXPECT_EQ(untouched[0], '#');
  char small[8];
  EXPECT_EQ(TARNG_GetProfileString("S", "V200", "", small, 8, file_.c_str()), 7);
  EXPECT_EQ(TARNG_GetProfileString("S", "V200", "", nullptr, 8, file_.c_str()), 0);
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
}

TEST_F(ProfileReadTest, IntegersParseAsWindowsDoes) {
  WriteBytes(file_,
             "[N]\nDec=42\nNeg=-17\nPlus=+8\nLead=0010\nHex=0x1F\nBigX=0X1F\n"
             "Junk=12abc\nWord=abc\nEmpty=\nQuoted=\"5\"\nWrap=4294967297\n"
             "Max=2147483648\nSpace=  33\nTail=7 ; comment\n");
  const std::pair<const char*, int> cases[] = {
      {"Dec", 42}, {"Neg", -17}, {"Plus", 8}, {"Junk", 12}, {"Word", 0},
      {"Quoted", 5}, {"Wrap", 1}, {"Space", 33}, {"Tail", 7},
      {"Lead", 10},  // not octal
      {"Hex", 31},
      {"BigX", 0},  // only a small x makes hexadecimal
      {"Max", static_cast<int>(0x80000000u)},
      {"Empty", -99},
      {"Missing", -99},
  };
  for (const auto& [key, want] : cases)
    EXPECT_EQ(TARNG_GetProfileInt("N", key, -99, file_.c_str()), want) << key;
}

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

TEST_F(ProfileReadTest, NullNamesListWithoutOverflow) {
  WriteBytes(file_, "[One]\na=1\n;c=2\nbare\nbb=3\n[Two]\n");
  char buf[32];
  int n = TARNG_GetProfileString("One", nullptr, "", buf, sizeof buf, file_.c_str());
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n) + 1), std::string("a\0bb\0\0", 6));
  n = TARNG_GetProfileString(nullptr, nullptr, "", buf, sizeof buf, file_.c_str());
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n) + 1), std::string("One\0Two\0\0", 9));
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
