// Writes through kvbase change only what they must and keep every other
// byte of the file.
#include <gtest/gtest.h>

#include <string>

#include "kvbase/profile.h"
#include "platform/file.h"
#include "tests/kvbase/profile_test_util.h"

namespace kvbase_test {
namespace {

class ProfileWriteTest : public ::testing::Test {
 protected:
  ProfileWriteTest() : scratch_("kvwrite"), file_(scratch_.Path("tarn.dat")) {}

  bool Set(const char* section, const char* key, const char* value) {
    return TARNG_WriteProfileString(section, key, value, file_.c_str()) != 0;
  }

  ScratchDir scratch_;
  std::string file_;
};

TEST_F(ProfileWriteTest, UpdateKeepsEveryOtherByte) {
  const std::string before =
      "; agent data\r\n\r\n[Scheduler Profile 3]\r\n  Hour =  9\r\nno equals sign here\r\n"
      "Hour=duplicate\r\n\t\r\n[Event Cat2:3]\r\nEvent Status=False\r\n";
  WriteBytes(file_, before);
  ASSERT_TRUE(Set("scheduler profile 3", "HOUR", "10"));
  std::string expected = before;
  expected.replace(expected.find("  Hour =  9"), 11, "  Hour =  10");
  EXPECT_EQ(FileContents(file_), expected);
  EXPECT_EQ(Get(file_, "Scheduler Profile 3", "Hour"), "10");
}

TEST_F(ProfileWriteTest, NewKeysAndSectionsGoWhereWindowsPutsThem) {
  WriteBytes(file_, "[A]\nk=1\n; trailing comment of A\n\n[B]\nx=1\n[a]\nk2=second copy\n");
  ASSERT_TRUE(Set("A", "k2", "new"));     // into the first [A], after its comment
  ASSERT_TRUE(Set(" C ", " key ", "v"));  // a new section at the end, names trimmed
  EXPECT_EQ(FileContents(file_),
            "[A]\nk=1\n; trailing comment of A\nk2=new\n\n[B]\nx=1\n[a]\nk2=second copy\n"
            "[C]\nkey=v\n");
  EXPECT_EQ(Get(file_, "A", "k2"), "new");

  // A new file gets the native line end.
  const std::string fresh = scratch_.Path("new.dat");
  ASSERT_TRUE(
      TARNG_WriteProfileString("Scheduler Profiles", "Number of Profiles", "2", fresh.c_str()));
  const std::string nl(platform::NativeLineEnd());
  EXPECT_EQ(FileContents(fresh), "[Scheduler Profiles]" + nl + "Number of Profiles=2" + nl);
}

TEST_F(ProfileWriteTest, DeletionsRemoveOnlyTheirLines) {
  WriteBytes(file_,
             "; head\n[Keep]\na=1\n[Scheduler Profile 2]\nState=Delete\n; its comment\n\n"
             "[Keep2]\nb=2\nb=3\n[scheduler profile 2]\nState=second\n");
  ASSERT_TRUE(Set("SCHEDULER PROFILE 2", nullptr, nullptr));
  EXPECT_EQ(FileContents(file_),
            "; head\n[Keep]\na=1\n[Keep2]\nb=2\nb=3\n[scheduler profile "
            "2]\nState=second\n");
  // The second copy is now the first.
  EXPECT_EQ(Get(file_, "Scheduler Profile 2", "State"), "second");
  ASSERT_TRUE(Set("Keep2", "B", nullptr));
  EXPECT_EQ(Get(file_, "Keep2", "b"), "3");
}

TEST_F(ProfileWriteTest, FailuresAreReportedNotHidden) {
  // A missing folder, and a folder where the file should be.
  const std::string no_folder = scratch_.Path("nope") + platform::testing::Sep() + "x.dat";
  for (const std::string& file : {no_folder, scratch_.dir()}) {
    std::string error;
    EXPECT_FALSE(kvbase::WriteProfileString("S", "K", "v", file.c_str(), &error)) << file;
    EXPECT_FALSE(error.empty()) << file;
    EXPECT_EQ(TARNG_WriteProfileString("S", "K", "v", file.c_str()), 0) << file;
  }
  EXPECT_EQ(TARNG_WriteProfileString(nullptr, "K", "v", file_.c_str()), 0);
  EXPECT_FALSE(Exists(file_));
}

TEST_F(ProfileWriteTest, EncodedFilesStayInTheirEncoding) {
  // UTF-8 with a byte order mark: the value written as ANSI is stored as UTF-8.
  WriteBytes(file_, "\xEF\xBB\xBF[S]\nName=caf\xC3\xA9\n");
  EXPECT_EQ(Get(file_, "S", "Name"), "caf\xE9");
  ASSERT_TRUE(Set("S", "New", "\xE9t\xE9"));
  EXPECT_EQ(FileContents(file_), "\xEF\xBB\xBF[S]\nName=caf\xC3\xA9\nNew=\xC3\xA9t\xC3\xA9\n");
  // UTF-16 little endian.
  const std::string u16("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0", 22);
  WriteBytes(file_, u16);
  EXPECT_EQ(Get(file_, "S", "k"), "v");
  ASSERT_TRUE(Set("S", "k", "w"));
  std::string expected = u16;
  expected[16] = 'w';
  EXPECT_EQ(FileContents(file_), expected);
}

TEST_F(ProfileWriteTest, WritesKeepHowOtherLinesDecode) {
  // An ANSI line that starts with the bytes of a byte order mark must not
  // become the first line of the file, or every other key turns unreadable.
  for (const std::string mark : {"\xFF\xFE", "\xFE\xFF", "\xEF\xBB\xBF"}) {
    const std::string rest = mark + "x=2\n[T]\nkey=v\n";
    WriteBytes(file_, "k=1\n" + rest);
    ASSERT_TRUE(Set("", "k", nullptr));  // the first line goes
    EXPECT_EQ(FileContents(file_), "\n" + rest);
    WriteBytes(file_, "[T]\nkey=v\n");
    ASSERT_TRUE(Set("", (mark + "x").c_str(), "2"));  // a key before the first header
    EXPECT_EQ(FileContents(file_), "\n" + rest);
    EXPECT_EQ(Get(file_, "T", "key"), "v");
    EXPECT_EQ(Get(file_, "", (mark + "x").c_str()), "2");
  }
}

}  // namespace
}  // namespace kvbase_test
