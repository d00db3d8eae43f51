// The registry file read the way reg import would apply it: regedit's own
// UTF-16 exports, deletions, other value types, and files that are no
// registry file at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/log.h"
#include "platform/posix/registry_file.h"
#include "platform/registry_path.h"
#include "platform/testing.h"
#include "support/log_capture.h"
#include "support/scoped_globals.h"
#include "support/scratch_dir.h"

namespace platform::posix {
namespace {

namespace pt = ::platform::testing;

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix";

// The string value, or "<none>" / "<not a string>".
std::string Value(const RegistryFile& file, const std::string& key, const std::string& name) {
  const RegistryKey* k = file.FindKey(key);
  if (!k) return "<no key>";
  const RegistryValue* v = k->Find(name);
  if (!v) return "<none>";
  return v->is_string ? v->text : "<not a string>";
}

std::string Utf16Le(const std::string& ascii) {
  std::string out = "\xFF\xFE";
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

TEST(RegistryFilePosixTest, ReadsWhatRegImportWouldApply) {
  const std::string text =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "; exported\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix]\r\n"
      "\"TTX Path\"=\"C:\\\\Program Files\\\\\\\"Corvane\\\"\"\r\n"
      "\"Count\"=dword:00000004\r\n"
      "\"Old\"=\"gone\"\r\n"
      "\"Old\"=-\r\n"
      "@=\"default\"\r\n"
      "\"Expand\"=hex(2):2f,00,6f,00,70,00,\\\r\n"
      "  74,00,00,00\r\n"
      "\r\n"
      "[hkey_local_machine\\software\\corvane\\teltrix\\ZIZ2UDE]\r\n"
      "\"DatsPath\"=\"/first\"\r\n"
      "\"datspath\" = \"/second\"  \r\n"
      "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Corvane\\Teltrix\\Gone]\r\n"
      "\"Ignored\"=\"under a deleted key\"\r\n";
  // regedit writes UTF-16LE with a BOM; hand-made files are UTF-8.
  for (const std::string& bytes : {Utf16Le(text), "\xEF\xBB\xBF" + text, text}) {
    RegistryFile file;
    ASSERT_TRUE(file.Parse(bytes));
    EXPECT_EQ(Value(file, kKey, "TTX Path"), "C:\\Program Files\\\"Corvane\"");
    EXPECT_EQ(Value(file, kKey, "Count"), "<not a string>");
    EXPECT_EQ(Value(file, kKey, "Old"), "<none>");
    EXPECT_EQ(Value(file, kKey, ""), "default");
    EXPECT_EQ(Value(file, kKey, "Expand"), "/opt");
    EXPECT_EQ(Value(file, std::string(kKey) + "\\ZIZ2UDE", "DatsPath"), "/second");
    EXPECT_EQ(file.FindKey(std::string(kKey) + "\\Gone"), nullptr);
  }

  // A deleted key takes its subkeys along; a later section brings it back.
  RegistryFile file;
  ASSERT_TRUE(
      file.Parse("REGEDIT4\n[HKEY_LOCAL_MACHINE\\A\\B\\C]\n\"v\"=\"1\"\n[HKEY_"
                 "LOCAL_MACHINE\\A\\B2]\n"
                 "[-HKEY_LOCAL_MACHINE\\A\\B]\n[HKEY_LOCAL_MACHINE\\A\\B]\n"));
  EXPECT_NE(file.FindKey("HKEY_LOCAL_MACHINE\\A\\B"), nullptr);
  EXPECT_EQ(file.FindKey("HKEY_LOCAL_MACHINE\\A\\B\\C"), nullptr);
  EXPECT_NE(file.FindKey("HKEY_LOCAL_MACHINE\\A\\B2"), nullptr);
}

// Every key on the way exists, yet what is kept grows with the line, not
// with its square.
TEST(RegistryFilePosixTest, DeepPathsCostTheirLength) {
  std::string path = "HKEY_LOCAL_MACHINE";
  for (int i = 0; i < 4000; ++i) path += "\\a";
  RegistryFile file;
  ASSERT_TRUE(file.Parse("REGEDIT4\n[" + path + "]\n\"v\"=\"deep\"\n"));
  EXPECT_LT(file.StoredBytes(), 4 * path.size());
  EXPECT_EQ(Value(file, path, "v"), "deep");
  EXPECT_EQ(Value(file, path.substr(0, 1000), "v"), "<none>");
  EXPECT_EQ(file.FindKey(path + "\\a"), nullptr);
  EXPECT_LT(file.Format().size(), 2 * path.size());
  file.DeleteKey(path.substr(0, 20));
  EXPECT_NE(file.FindKey(path.substr(0, 18)), nullptr);
  EXPECT_EQ(file.FindKey(path.substr(0, 20)), nullptr);
  EXPECT_EQ(file.FindKey(path), nullptr);
}

TEST(RegistryFilePosixTest, MalformedFilesReadAsMissing) {
  const std::string key = "[HKEY_LOCAL_MACHINE\\K]\n";
  for (const std::string& bytes : std::vector<std::string>{
           "", "\"v\"=\"no header\"\n", "Windows Registry Editor Version 4.00\n" + key,
           "REGEDIT4\n\"v\"=\"before any key\"\n" + key,
           "REGEDIT4\n" + key + "\"v\"=\"unterminated\n",
           "REGEDIT4\n" + key + "\"v\"=\"x\" trailing\n",
           "REGEDIT4\n" + key + "v=\"unquoted name\"\n", "REGEDIT4\n" + key + "\"v\"=hex(2):4g\n",
           "REGEDIT4\n[HKEY_NOWHERE\\K]\n", "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K\n",
           std::string("\xFF\xFER\0E\0G", 7),   // odd UTF-16 length
           std::string("\xFF\xFE\x00\xD8", 4),  // lone surrogate
       }) {
    RegistryFile file;
    EXPECT_FALSE(file.Parse(bytes)) << bytes;
    EXPECT_EQ(file.FindKey("HKEY_LOCAL_MACHINE\\K"), nullptr);
  }

  // Through the Env (a missing file: the typed registry test): a malformed
  // file is a missing key.
  testsupport::ScratchDir dir("regfile");
  const std::string path = dir.Path("registry.reg");
  testsupport::ScopedEnv file_env("SCHEDEXE_REGISTRY", path.c_str());
  std::ofstream(path) << "REGEDIT4\n" << key << "\"v\"=\"ok\"\n\"d\"=dword:1\ngarbage\n";
  char buffer[16] = "junk";
  EXPECT_EQ(DefaultEnv().ReadRegistryString("K", "v", buffer, sizeof buffer),
            RegistryStatus::kNoKey);
  // The test helper refuses to rewrite a file it cannot read.
  EXPECT_FALSE(pt::SetRegistryString("K", "v", "new"));

  // The log names the file and what is wrong with it: missing, or the first
  // line that does not parse.
  testsupport::LogCapture log;
  std::string out;
  const std::string garbled = testsupport::UniqueName("garbled");
  EXPECT_EQ(ReadRegistryPath("K", garbled.c_str(), "", &out), RegistryStatus::kNoKey);
  EXPECT_EQ(log.Count(LogLevel::kError, {"registry: the registry file " + path +
                                             " does not parse at line 5 (not a key or value"
                                             " line): garbage, so ",
                                         garbled}),
            1)
      << log.Lines().back();
  std::remove(path.c_str());
  const std::string missing = testsupport::UniqueName("missing");
  EXPECT_EQ(ReadRegistryPath("K", missing.c_str(), "", &out), RegistryStatus::kNoKey);
  EXPECT_EQ(log.Count(LogLevel::kError,
                      {"registry: the registry file " + path + " is missing, so ", missing}),
            1)
      << log.Lines().back();
  RegistryFile file;
  std::string error;
  EXPECT_FALSE(file.Parse("REGEDIT4\n" + key + "\"v\"=hex(2):41,\\\n  4g\n", &error));
  EXPECT_EQ(error, "line 3 (not a key or value line): \"v\"=hex(2):41,4g");
}

// What the test helper writes reads back as written, or it is refused and
// the file is left as it was.
TEST(RegistryFilePosixTest, WrittenValuesReadBackOrAreRefused) {
  testsupport::ScratchDir dir("regwrite");
  const std::string path = dir.Path("registry.reg");
  testsupport::ScopedEnv file_env("SCHEDEXE_REGISTRY", path.c_str());
  const std::string head = "REGEDIT4\n[HKEY_LOCAL_MACHINE\\K]\n";
  const struct {
    std::string before;  // "" for no file
    std::string key;
    std::string data;
    bool written;
  } cases[] = {
      {"", "K", "two\nlines", true},
      {"", "K", "\r\n\\\"\xC3\xA9\xF0\x9F\x98\x80\n", true},
      {head + "\"b\"=hex:01,\\\n  02\n\"c\"=hex(7):41,00,00,00,\\\n  00,00\n", "K", "x", true},
      // A continuation at the very end would swallow the next line written.
      {head + "\"b\"=hex:01,\\", "K", "x", false},
      {head + "\"b\"=dword:1\\", "K", "x", false},
      {head + "\"b\"=dword:123456789\n", "K", "x", false},
      {"", "K\\\\Sub", "x", false},
      {"", "\\K", "x", false},
      // No line of the file could name the key.
      {"", "K\nSub", "x", false},
  };
  for (const auto& c : cases) {
    std::remove(path.c_str());
    if (!c.before.empty()) std::ofstream(path, std::ios::binary) << c.before;
    EXPECT_EQ(pt::SetRegistryString(c.key, "v", c.data), c.written) << c.before << c.key;
    if (!c.written) {
      EXPECT_EQ(pt::FileContents(path), c.before) << c.before << c.key;
      continue;
    }
    char buffer[64] = "";
    EXPECT_EQ(DefaultEnv().ReadRegistryString("K", "v", buffer, sizeof buffer), RegistryStatus::kOk)
        << c.before;
    EXPECT_EQ(buffer, c.data) << c.before;
    if (!c.before.empty()) {
      EXPECT_EQ(DefaultEnv().ReadRegistryString("K", "b", buffer, sizeof buffer),
                RegistryStatus::kUnreadable);
      EXPECT_STREQ(buffer, "");
    }
  }
}

}  // namespace
}  // namespace platform::posix
