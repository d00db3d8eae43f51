// kvbase against the real Windows profile functions: the same files and the
// same calls must give the same results, byte for byte. (Run under Wine.)
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "kvbase/profile.h"
#include "tests/kvbase/profile_test_util.h"

namespace kvbase_test {
namespace {

// Null names are part of the interface too.
struct Name {
  const char* text;
  std::string Show() const { return text ? "\"" + std::string(text) + "\"" : "NULL"; }
};

class ProfileCompatTest : public ::testing::Test {
 protected:
  ProfileCompatTest() : scratch_("kvcompat") {}

  // A file name never used before: Windows keeps files it has read cached.
  std::string Fresh(const std::string& contents) {
    const std::string path = scratch_.Path("p" + std::to_string(counter_++) + ".ini");
    WriteBytes(path, contents);
    return path;
  }

  // Both read calls, the whole buffer and a margin compared.
  void CompareString(const std::string& file, Name section, Name key, Name def, int size,
                     const std::string& what) {
    std::string theirs(static_cast<size_t>(size) + 8, '#');
    std::string ours = theirs;
    const DWORD n_theirs = GetPrivateProfileStringA(section.text, key.text, def.text, theirs.data(),
                                                    static_cast<DWORD>(size), file.c_str());
    const int n_ours =
        TARNG_GetProfileString(section.text, key.text, def.text, ours.data(), size, file.c_str());
    const std::string call = what + " [" + section.Show() + "] " + key.Show() + " def " +
                             def.Show() + " size " + std::to_string(size);
    EXPECT_EQ(static_cast<int>(n_theirs), n_ours) << call;
    EXPECT_EQ(theirs, ours) << call;
  }

  void CompareInt(const std::string& file, Name section, Name key, int def,
                  const std::string& what) {
    EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA(section.text, key.text, def, file.c_str())),
              TARNG_GetProfileInt(section.text, key.text, def, file.c_str()))
        << what << " [" << section.Show() << "] " << key.Show() << " def " << def;
  }

  // The names Windows lists: the sections of a file (null section) or the
  // keys of one section.
  static std::vector<std::string> List(const std::string& file, const char* section) {
    std::vector<char> buffer(4096);
    const DWORD n = GetPrivateProfileStringA(section, nullptr, "", buffer.data(),
                                             static_cast<DWORD>(buffer.size()), file.c_str());
    std::vector<std::string> names;
    for (const char* p = buffer.data(); p < buffer.data() + n; p += std::strlen(p) + 1)
      names.emplace_back(p);
    return names;
  }

  // Every read of the given names, and of every name Windows lists, over one
  // file. (Each call costs Windows a file open, so the names are kept few.)
  void CompareReads(const std::string& contents, std::vector<Name> sections, std::vector<Name> keys,
                    const std::string& what) {
    const std::string file = Fresh(contents);
    const std::vector<std::string> listed_sections = List(file, nullptr);
    std::vector<std::string> listed_keys = List(file, "");
    for (const std::string& section : listed_sections) {
      for (std::string& key : List(file, section.c_str())) listed_keys.push_back(std::move(key));
    }
    for (const std::string& section : listed_sections) sections.push_back({section.c_str()});
    for (const std::string& key : listed_keys) keys.push_back({key.c_str()});
    for (Name s : sections) {
      for (Name k : keys) {
        CompareString(file, s, k, {"d "}, 80, what);
        CompareInt(file, s, k, -5, what);
      }
    }
  }

  // What Windows reads from a file: every section, its keys and their values.
  std::string Dump(const std::string& contents) {
    const std::string file = Fresh(contents);
    std::vector<std::string> sections = List(file, nullptr);
    sections.insert(sections.begin(), "");
    std::string dump;
    for (const std::string& s : sections) {
      dump += "[" + s + "]\n";
      for (const std::string& k : List(file, s.c_str())) {
        char value[256];
        GetPrivateProfileStringA(s.c_str(), k.c_str(), "<none>", value, sizeof value, file.c_str());
        dump += k + "=" + value + "\n";
      }
    }
    return dump;
  }

  // One write through both, on copies of one file; then the results must
  // read the same, and where asked be the same bytes.
  void CompareWrite(const std::string* contents, Name section, Name key, Name value,
                    bool same_bytes, const std::string& what) {
    const std::string theirs_file = scratch_.Path("w" + std::to_string(counter_) + "a.ini");
    const std::string ours_file = scratch_.Path("w" + std::to_string(counter_++) + "b.ini");
    if (contents) {
      WriteBytes(theirs_file, *contents);
      WriteBytes(ours_file, *contents);
    }
    const bool theirs =
        WritePrivateProfileStringA(section.text, key.text, value.text, theirs_file.c_str());
    const bool ours =
        TARNG_WriteProfileString(section.text, key.text, value.text, ours_file.c_str()) != 0;
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, theirs_file.c_str());
    EXPECT_EQ(theirs, ours) << what;
    EXPECT_EQ(Exists(theirs_file), Exists(ours_file)) << what;
    if (!Exists(theirs_file)) return;
    const std::string theirs_bytes = FileContents(theirs_file);
    const std::string ours_bytes = FileContents(ours_file);
    if (same_bytes) {
      EXPECT_EQ(theirs_bytes, ours_bytes) << what;
    }
    // Whatever the bytes, both files must read the same.
    EXPECT_EQ(Dump(theirs_bytes), Dump(ours_bytes)) << what;
  }

  ScratchDir scratch_;
  int counter_ = 0;
};

TEST_F(ProfileCompatTest, ReadsMatchWindows) {
  std::printf("ANSI code page %u\n", GetACP());
  // Names with blanks, of another case, empty and null; those in each file
  // come from its listing.
  const std::vector<Name> sections = {{" s "}, {"s"}, {"[S"}, {""}, {nullptr}};
  const std::vector<Name> keys = {{" hour "}, {"NAME"}, {";c"}, {"a=b"}, {""}, {nullptr}};
  const std::vector<std::pair<std::string, std::string>> files = {
      {"plain", "[S]\r\nHour=9\r\nName=\"a b\"\r\n"},
      {"blanks", "  [ S ]  x\r\n  Hour  =  9 ; c  \r\n\tName\t=\t'x y'\t\r\n"},
      {"quotes", "[S]\nQ=\"abc\"\nName='abcdef'\nE=\"\"\nHour=\"\nN1=\"x'\nN2='\n"},
      {"dups", "[S]\nHour=1\nhour=2\n[T]\nk=t\n[s]\nHour=3\nName=second\n"},
      {"bare", "[S]\nbare\nHour\nHour=5\n;c=7\nbare=8\n"},
      {"outside", "Hour=top\nk=0\n[S]\nHour=in\n[]\nk=empty\n"},
      {"ints",
       "[S]\nN1=0x1A\nN2=0X1A\nN3=010\nN4=-0x10\nN5=+-3\nN6=0b101\nN7=0o17\n"
       "N8=99999999999999999999999999999999\nBig=4294967295\nHour= -7z\n"},
      {"moreints",
       "[S]\nN1=12 34\nN2=\"-4\"\nN3=\x01"
       "5\nN4=0x\nN5=-\nN6=0x7fffffff\n"
       "N7=0xFFFFFFFF1\nN8=00000000000000000000000000000000009\n"},
      {"crlf-mixed", "[S]\r\nHour=1\r\n[T]\nk=2\r\r\n[U]\rk=3\n"},
      {"cr-only", "[S]\rHour=1\rName=2\r[T]\rk=3"},
      {"no-eol", "[S]\nHour=9"},
      {"empty-value", "[S]\nHour=\nName=  \nE\nQ= = \n"},
      {"equals", "[S]\na=b=c\nx y = z w \n=nameless\n==two\n"},
      {"sections", "[S\n[S]x]\nk=1\n[T]]\nk=2\n[ U\t]\nk=3\n[Sched Profile 3]\nHour=4\n"},
      {"nul", std::string("[S]\nHour=a\0b\nName\0=x\nQ=\"a\0\"\n[T\0x]\nk=1\n", 40)},
      {"ctrl-z", "[S]\nHour=1\x1A\n\x1AName=2\n"},
      {"long", "[S]\nHour=" + std::string(300, 'h') + "\nName=\"" + std::string(100, 'n') +
                   "\"\nQ=\"" + std::string(78, 'q') + "\"\nE=\"" + std::string(79, 'e') + "\"\n"},
      {"empty", ""},
      {"utf8-bom", "\xEF\xBB\xBF[S]\nHour=caf\xC3\xA9\nName=\xE2\x82\xAC\n"},
      {"utf16", std::string("\xFF\xFE[\0S\0]\0\r\0\n\0k\0=\0v\0\r\0\n\0", 22)},
      {"high",
       "[S]\nHour=\xE9\xC9\xA0x\xA0\nName=\x81\x8D\nQ=\xFF\n[\xC9t\xE9]\nk="
       "1\n"},
  };
  for (const auto& [what, contents] : files) CompareReads(contents, sections, keys, what);
  // Upper- and lower-case forms of the high letters.
  CompareReads("[\xC9t\xE9]\nk=1\n[\x8A\x9F]\nk=2\n", {{"\xE9t\xC9"}, {"\x9A\xFF"}, {"\xC9T\xE9"}},
               {{"k"}, {"K"}}, "high case");
}

TEST_F(ProfileCompatTest, BufferSizesAndDefaultsMatchWindows) {
  const std::string file =
      Fresh("[S]\nHour=" + std::string(300, 'h') + "\nName=\"" + std::string(100, 'n') +
            "\"\nQ=\"abcd\"\nE=\"\"\nk=v\n[T]\nlonger=1\nk2=2\n[Other section]\n");
  const std::vector<Name> defaults = {{""}, {nullptr}, {"dflt  "}, {"\"q\""}, {"   "}, {"'x"}};
  for (Name k : {Name{"Hour"}, Name{"Name"}, Name{"Q"}, Name{"E"}, Name{"Missing"}}) {
    for (int size : {1, 2, 3, 4, 5, 6, 79, 80, 101, 102}) {
      CompareString(file, {"S"}, k, {""}, size, "sizes");
    }
  }
  for (Name d : defaults) {
    CompareString(file, {"S"}, {"Missing"}, d, 80, "defaults");
    CompareString(file, {"S"}, {"E"}, d, 80, "defaults");
    CompareString(file, {"Nope"}, {nullptr}, d, 80, "defaults");
  }
  for (int size : {3, 4, 5, 6, 8, 12, 20}) {
    CompareString(file, {"S"}, {nullptr}, {""}, size, "key list");
    CompareString(file, {"T"}, {nullptr}, {""}, size, "key list");
    CompareString(file, {nullptr}, {nullptr}, {""}, size, "section list");
    CompareString(file, {nullptr}, {"k"}, {""}, size, "section list");
  }
  for (int size : {1, 2}) CompareString(file, {nullptr}, {nullptr}, {""}, size, "section list");
}

TEST_F(ProfileCompatTest, ReadsOfMissingAndUnreadableFilesMatchWindows) {
  const std::vector<Name> defaults = {{""}, {"dflt  "}, {"\"q\""}, {nullptr}};
  const std::string missing = scratch_.Path("missing.ini");
  const std::string no_folder = scratch_.Path("nope") + "\\x.ini";
  for (const std::string& file : {missing, no_folder, scratch_.dir()}) {
    for (Name d : defaults) {
      for (int size : {80, 3}) {
        CompareString(file, {"S"}, {"k"}, d, size, file);
        CompareString(file, {"S"}, {nullptr}, d, size, file);
        CompareString(file, {nullptr}, {nullptr}, d, size, file);
      }
    }
    CompareInt(file, {"S"}, {"k"}, 3, file);
  }
  EXPECT_FALSE(Exists(missing));
}

// Per byte value: which bytes count as blanks around names and values.
TEST_F(ProfileCompatTest, BlanksAreTheSameBytes) {
  std::string contents;
  for (int b = 1; b < 256; ++b) {
    if (b == '\n' || b == '\r') continue;
    const std::string c(1, static_cast<char>(b));
    const std::string n = std::to_string(b);
    contents +=
        "[s" + n + "]\n" + c + "k" + c + "=" + c + "v" + c + "\n[" + c + "t" + n + c + "]\nk=t\n";
  }
  const std::string file = Fresh(contents);
  for (int b = 1; b < 256; ++b) {
    if (b == '\n' || b == '\r') continue;
    const std::string n = std::to_string(b);
    const std::string s = "s" + n, t = "t" + n;
    CompareString(file, {s.c_str()}, {"k"}, {""}, 80, "byte " + n);
    CompareString(file, {t.c_str()}, {"k"}, {""}, 80, "byte " + n);
  }
}

// Per byte value: which names compare equal without regard to case.
TEST_F(ProfileCompatTest, CaseFoldingIsTheSame) {
  std::string contents;
  for (int b = 0x21; b < 256; ++b) {
    if (b == ']' || b == '=' || b == ';') continue;
    contents += "[x" + std::string(1, static_cast<char>(b)) + "]\nk=" + std::to_string(b) + "\n";
  }
  const std::string file = Fresh(contents);
  for (int q = 0x21; q < 256; ++q) {
    const std::string name = "X" + std::string(1, static_cast<char>(q));
    CompareString(file, {name.c_str()}, {"k"}, {"none"}, 80, "query byte " + std::to_string(q));
  }
}

struct WriteCase {
  const char* what;
  std::string contents;  // nullptr-like: "\x01missing" means no file
  Name section, key, value;
  bool same_bytes;  // the input is in the form Windows writes, so bytes must
                    // match
};

TEST_F(ProfileCompatTest, WritesMatchWindows) {
  const std::string kMissing = "\x01missing";
  const std::string canon = "[S]\r\nHour=9\r\nName=x\r\n[T]\r\nk=1\r\n";
  const std::vector<WriteCase> cases = {
      {"update", canon, {"S"}, {"Hour"}, {"10"}, true},
      {"update case", canon, {" s "}, {" HOUR "}, {"10"}, true},
      {"same value", canon, {"S"}, {"Hour"}, {"9"}, true},
      {"new key", canon, {"S"}, {"New"}, {"v"}, true},
      {"new section", canon, {"U"}, {"k"}, {"v"}, true},
      {"empty value", canon, {"S"}, {"Hour"}, {""}, true},
      {"leading blanks", canon, {"S"}, {"Hour"}, {"  7 "}, true},
      {"quotes", canon, {"S"}, {"Name"}, {"\"q q\""}, true},
      {"delete section", canon, {"S"}, {nullptr}, {nullptr}, true},
      {"delete section blanks", canon, {" S "}, {nullptr}, {nullptr}, true},
      {"delete missing section", canon, {"Z"}, {nullptr}, {nullptr}, true},
      {"delete key", canon, {"S"}, {"Hour"}, {nullptr}, true},
      {"delete missing key", canon, {"S"}, {"Nope"}, {nullptr}, true},
      {"null section", canon, {nullptr}, {"k"}, {"v"}, true},
      {"new file", kMissing, {"S"}, {"k"}, {"v"}, false},
      {"delete in missing file", kMissing, {"S"}, {nullptr}, {nullptr}, true},
      {"delete key in missing file", kMissing, {"S"}, {"k"}, {nullptr}, true},
      {"empty file", "", {"S"}, {"k"}, {"v"}, true},
      {"dup sections", "[S]\r\na=1\r\n[T]\r\nb=2\r\n[s]\r\nc=3\r\n", {"S"}, {"c"}, {"4"}, true},
      {"dup keys", "[S]\r\na=1\r\nA=2\r\n", {"S"}, {"a"}, {"3"}, true},
      {"dup delete key", "[S]\r\na=1\r\n[T]\r\n[S]\r\nb=2\r\n", {"S"}, {"b"}, {nullptr}, true},
      {"dup delete section",
       "[S]\r\na=1\r\n[T]\r\n[S]\r\nb=2\r\n",
       {"s"},
       {nullptr},
       {nullptr},
       true},
      {"bare line", "[S]\r\nHour\r\nHour=5\r\n", {"S"}, {"Hour"}, {"6"}, true},
      {"comment key", "[S]\r\n;c\r\n", {"S"}, {";c"}, {"1"}, true},
      {"outside", "a=1\r\n[S]\r\nb=2\r\n", {""}, {"c"}, {"3"}, true},
      {"outside delete", "a=1\r\n[S]\r\nb=2\r\n", {""}, {nullptr}, {nullptr}, true},
      {"comments kept", "; c\n\n[S]\nk = 1\n\n[T]\nx\n", {"S"}, {"k"}, {"2"}, false},
      {"new key after comment", "[S]\nk=1\n; c\n\n[T]\n", {"S"}, {"j"}, {"2"}, false},
      {"lf file", "[S]\nk=1\n", {"T"}, {"j"}, {"2"}, false},
      {"no eol", "[S]\r\nk=1", {"S"}, {"j"}, {"2"}, false},
      {"cr only", "[S]\rk=1\r", {"S"}, {"j"}, {"2"}, false},
      {"value newline", canon, {"S"}, {"k"}, {"a\r\nb=c"}, true},
      {"utf8", "\xEF\xBB\xBF[S]\r\nk=\xC3\xA9\r\n", {"S"}, {"j"}, {"\xE9"}, false},
  };
  for (const WriteCase& c : cases) {
    CompareWrite(c.contents == kMissing ? nullptr : &c.contents, c.section, c.key, c.value,
                 c.same_bytes, c.what);
  }
}

// Random files from the pieces that matter to the parser.
TEST_F(ProfileCompatTest, RandomFilesMatchWindows) {
  std::mt19937 rng(2026);
  const std::vector<std::string> atoms = {
      "[",    "]",     "=",       " ",  "\t",   ";",   "\"", "'", "\r\n",
      "\n",   "\r",    "a",       "b",  "A",    "0x1", "-",  "9", std::string(1, '\0'),
      "\xE9", "[a]\n", "[b]\r\n", "a=", "b=1\n"};
  const std::vector<Name> values = {{"v"}, {"  x "}, {""}, {nullptr}, {"\"q\""}};
  for (int round = 0; round < 50; ++round) {
    std::string contents;
    const int pieces = static_cast<int>(rng() % 40);
    for (int i = 0; i < pieces; ++i) contents += atoms[rng() % atoms.size()];
    const std::string what =
        "random " + std::to_string(round) + ": " + ::testing::PrintToString(contents);
    CompareReads(contents, {{"a"}, {"b"}, {""}}, {{"a"}, {"b"}, {nullptr}}, what);
    const Name section = rng() % 2 ? Name{"a"} : Name{"b"};
    const Name key = rng() % 4 ? (rng() % 2 ? Name{"a"} : Name{"b"}) : Name{nullptr};
    const Name value = values[rng() % values.size()];
    // Windows rewrites the whole file from what it parsed, which changes the
    // meaning of lines holding NUL bytes; ours keeps them as they are.
    if (contents.find('\0') == std::string::npos) {
      CompareWrite(&contents, section, key, value, false, what);
    }
  }
}

}  // namespace
}  // namespace kvbase_test
