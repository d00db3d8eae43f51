// Reads through kvbase return what the Windows profile functions return.
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

class ProfileReadTest : public ::testing::Test {
 protected:
  ProfileReadTest() : scratch_("kvread"), file_(scratch_.Path("tarn.dat")) {}
  void TearDown() override { kvbase::SetCacheEnabledForTesting(true); }

  ScratchDir scratch_;
  std::string file_;
};

TEST_F(ProfileReadTest, NamesAndValuesAreTrimmedAndCompareWithoutCase) {
  WriteBytes(file_,
             "  [ Scheduler Profile 3 ]  trailing text\r\n  Hour  =  9 ; not a comment  \r\n"
             "Name=\"a b\"\r\nSingle='x y'\r\nUnbalanced=\"open\r\nLone=\"\r\nEmpty=\"\"\r\n"
             "Mixed=\"text'\r\nInner=a \"b\" c\r\nEq=a=b\r\n[Tab]\tjunk]more\nk=v\n");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Hour"), "9 ; not a comment");
  EXPECT_EQ(Get(file_, "  scheduler PROFILE 3\t", " HOUR "),
            "9 ; not a comment");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Name"), "a b");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Single"), "x y");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Unbalanced"), "\"open");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Lone"), "\"");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Empty"), "");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Mixed"), "\"text'");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Inner"), "a \"b\" c");
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Eq"), "a=b");
  // The name ends at the last ']' of the line.
  EXPECT_EQ(Get(file_, "Tab]\tjunk", "k"), "v");
  EXPECT_EQ(Get(file_, "Tab", "k", "none"), "none");
}

TEST_F(ProfileReadTest, FirstSectionAndFirstKeyWin) {
  WriteBytes(file_, "Outside=top\n[A]\nKey=first\nkey=second\n[B]\nKey=b\n[a]\nKey=third\n"
                    "Only=in second copy\n");
  EXPECT_EQ(Get(file_, "A", "KEY"), "first");
  EXPECT_EQ(Get(file_, "B", "Key"), "b");
  // Only the first section of a name is searched.
  EXPECT_EQ(Get(file_, "A", "Only", "dflt"), "dflt");
  // Keys before any header belong to the nameless section.
  EXPECT_EQ(Get(file_, "", "Outside"), "top");
}

TEST_F(ProfileReadTest, DefaultsForWhatIsMissing) {
  WriteBytes(file_, "[S]\nK=v\n");
  EXPECT_EQ(Get(file_, "S", "Nope", "dflt  "), "dflt");
  EXPECT_EQ(Get(file_, "Nope", "K", "d e "), "d e");
  EXPECT_EQ(Get(file_, "S", "Nope", nullptr), "");
  EXPECT_EQ(Get(file_, "S", "Nope", "tab\t"), "tab\t");  // only blanks go
  const std::string missing = scratch_.Path("missing.dat");
  EXPECT_EQ(Get(missing, "S", "K", "dflt "), "dflt");
  EXPECT_EQ(TARNG_GetProfileInt("S", "K", 42, missing.c_str()), 42);
  EXPECT_FALSE(Exists(missing)) << "reading must never create the file";
  const std::string no_folder =
      scratch_.Path("nope") + platform::testing::Sep() + "x.dat";
  EXPECT_EQ(Get(no_folder, "S", "K", "dflt"), "dflt");
  // A folder where the file should be reads as nothing there.
  EXPECT_EQ(Get(scratch_.dir(), "S", "K", "dflt"), "dflt");
  EXPECT_EQ(TARNG_GetProfileInt("S", "K", 7, scratch_.dir().c_str()), 7);
}

TEST_F(ProfileReadTest, BufferSizesNeverOverflowAndCutAtSizeMinusOne) {
  const std::string v79(79, 'x');
  const std::string v200(200, 'y');
  WriteBytes(file_, "[S]\nV79=" + v79 + "\nV200=" + v200 + "\nQ=\"abcd\"\n");
  EXPECT_EQ(Get(file_, "S", "V79"), v79);
  EXPECT_EQ(Get(file_, "S", "V200"), v200.substr(0, 79));
  EXPECT_EQ(Get(file_, "S", "V200", "", 256), v200);
  EXPECT_EQ(Get(file_, "S", "V200", "", 1), "");
  EXPECT_EQ(Get(file_, "S", "V200", "", 2), "y");
  EXPECT_EQ(Get(file_, "S", "Q", "", 6), "abcd");
  EXPECT_EQ(Get(file_, "S", "Q", "", 3), "ab");
  char untouched[4] = {'#', '#', '#', '#'};
  EXPECT_EQ(TARNG_GetProfileString("S", "V79", "", untouched, 0, file_.c_str()),
            0);
  EXPECT_EQ(untouched[0], '#');
  char small[8];
  EXPECT_EQ(TARNG_GetProfileString("S", "V200", "", small, 8, file_.c_str()),
            7);
  EXPECT_EQ(TARNG_GetProfileString("S", "V200", "", nullptr, 8, file_.c_str()),
            0);
}

TEST_F(ProfileReadTest, IntegersParseAsWindowsDoes) {
  WriteBytes(file_,
             "[N]\nDec=42\nNeg=-17\nPlus=+8\nLead=0010\nHex=0x1F\nBigX=0X1F\n"
             "Junk=12abc\nWord=abc\nEmpty=\nQuoted=\"5\"\nWrap=4294967297\n"
             "Max=2147483648\nSpace=  33\nTail=7 ; comment\n");
  const auto get = [&](const char* key) {
    return TARNG_GetProfileInt("N", key, -99, file_.c_str());
  };
  EXPECT_EQ(get("Dec"), 42);
  EXPECT_EQ(get("Neg"), -17);
  EXPECT_EQ(get("Plus"), 8);
  EXPECT_EQ(get("Lead"), 10);  // not octal
  EXPECT_EQ(get("Hex"), 31);
  EXPECT_EQ(get("BigX"), 0);  // only a small x makes hexadecimal
  EXPECT_EQ(get("Junk"), 12);
  EXPECT_EQ(get("Word"), 0);
  EXPECT_EQ(get("Empty"), -99);
  EXPECT_EQ(get("Quoted"), 5);
  EXPECT_EQ(get("Wrap"), 1);
  EXPECT_EQ(get("Max"), static_cast<int>(0x80000000u));
  EXPECT_EQ(get("Space"), 33);
  EXPECT_EQ(get("Tail"), 7);
  EXPECT_EQ(get("Missing"), -99);
}

TEST_F(ProfileReadTest, LineEndsOfEveryStyle) {
  WriteBytes(file_, "[A]\r\nx=crlf\r\n[B]\ny=lf\n[C]\r\nz=mixed\n[D]\nlast=no newline");
  EXPECT_EQ(Get(file_, "A", "x"), "crlf");
  EXPECT_EQ(Get(file_, "B", "y"), "lf");
  EXPECT_EQ(Get(file_, "C", "z"), "mixed");
  EXPECT_EQ(Get(file_, "D", "last"), "no newline");
  // Old Mac files: lines end at a lone CR.
  WriteBytes(file_, "[M]\rk=cr\rj=2");
  EXPECT_EQ(Get(file_, "M", "k"), "cr");
  EXPECT_EQ(Get(file_, "M", "j"), "2");
}

TEST_F(ProfileReadTest, HostileFilesNeitherCrashNorLeak) {
  // NUL bytes end a name or value, as in a C string.
  WriteBytes(file_, std::string("[S\0x]\nK=ab\0cd\nL=\0\n", 19));
  EXPECT_EQ(Get(file_, "S", "K"), "ab");
  EXPECT_EQ(Get(file_, "S", "L", "d"), "");
  // A line of megabytes, and a value longer than any buffer.
  std::string huge = "[Big]\nK=" + std::string(4 << 20, 'v') + "\nAfter=ok\n";
  WriteBytes(file_, huge);
  EXPECT_EQ(Get(file_, "Big", "K", "", 256), std::string(255, 'v'));
  EXPECT_EQ(Get(file_, "Big", "After"), "ok");
  // Random bytes: any outcome but a crash or a write past the buffer.
  std::mt19937 rng(1234);
  for (int round = 0; round < 20; ++round) {
    std::string junk(4096, '\0');
    for (char& c : junk) c = static_cast<char>(rng() % 256);
    junk += "\n[S]\nK=found";
    WriteBytes(file_, junk);
    EXPECT_EQ(Get(file_, "S", "K", "", 16).substr(0, 5), "found");
    Get(file_, "S", "Other", "", 2);
    TARNG_GetProfileInt("S", "K", 0, file_.c_str());
  }
  // Empty file.
  WriteBytes(file_, "");
  EXPECT_EQ(Get(file_, "S", "K", "dflt"), "dflt");
}

TEST_F(ProfileReadTest, NullNamesListWithoutOverflow) {
  WriteBytes(file_, "[One]\na=1\n;c=2\nbare\nbb=3\n[Two]\n");
  char buf[32];
  std::fill(std::begin(buf), std::end(buf), '#');
  int n = TARNG_GetProfileString("One", nullptr, "", buf, sizeof buf,
                                 file_.c_str());
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n) + 1),
            std::string("a\0bb\0\0", 6));
  n = TARNG_GetProfileString(nullptr, nullptr, "", buf, sizeof buf,
                             file_.c_str());
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n) + 1),
            std::string("One\0Two\0\0", 9));
  for (int size = 1; size < 8; ++size) {
    std::fill(std::begin(buf), std::end(buf), '#');
    TARNG_GetProfileString("One", nullptr, "", buf, size, file_.c_str());
    TARNG_GetProfileString(nullptr, "a", "", buf, size, file_.c_str());
    EXPECT_EQ(buf[size], '#') << size;
  }
}

TEST_F(ProfileReadTest, CacheNeverReturnsStaleData) {
  WriteBytes(file_, "[S]\nK=aaaa\n");
  EXPECT_EQ(Get(file_, "S", "K"), "aaaa");
  // Another program rewrites the file in place, same size, within the same
  // clock tick: the next read must see it.
  for (int i = 0; i < 50; ++i) {
    const std::string v = (i % 2) ? "bbbb" : "cccc";
    WriteBytes(file_, "[S]\nK=" + v + "\n");
    ASSERT_EQ(Get(file_, "S", "K"), v) << i;
  }
  ASSERT_TRUE(TARNG_WriteProfileString("S", "K", "dddd", file_.c_str()));
  EXPECT_EQ(Get(file_, "S", "K"), "dddd");

  // Readers on many threads at once while a writer changes the file.
  std::vector<std::thread> threads;
  std::atomic<bool> bad{false};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 300; ++i) {
        char buf[80];
        TARNG_GetProfileString("S", "K", "", buf, sizeof buf, file_.c_str());
        const std::string v = buf;
        if (v.size() != 4) bad = true;
      }
    });
  }
  for (int i = 0; i < 30; ++i) {
    TARNG_WriteProfileString("S", "K", (i % 2) ? "eeee" : "ffff",
                             file_.c_str());
  }
  for (auto& t : threads) t.join();
  EXPECT_FALSE(bad);
  EXPECT_EQ(Get(file_, "S", "K"), "eeee");

  // The cache and a fresh parse agree.
  kvbase::SetCacheEnabledForTesting(false);
  const std::string fresh = Get(file_, "S", "K");
  kvbase::SetCacheEnabledForTesting(true);
  EXPECT_EQ(Get(file_, "S", "K"), fresh);
}

}  // namespace
}  // namespace kvbase_test
