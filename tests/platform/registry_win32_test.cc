// What only the real registry can hold: values that are not plain strings,
// strings stored without their terminator, and expandable strings.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/env.h"
#include "platform/testing.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

// Windows value types.
constexpr uint32_t kRegSz = 1;
constexpr uint32_t kRegExpandSz = 2;
constexpr uint32_t kRegBinary = 3;
constexpr uint32_t kRegDword = 4;

class RegistryWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string dir = pt::MakeTempDir("registry-win32");
    ASSERT_FALSE(dir.empty());
    pt::RemoveTree(dir);
    // The folder's unique name keeps parallel runs apart.
    subkey_ = "SOFTWARE\\SchedExeTest\\" + dir.substr(dir.rfind('\\') + 1);
  }
  void TearDown() override { EXPECT_TRUE(pt::DeleteRegistryKey(subkey_)); }

  void Set(const char* name, uint32_t type, const std::string& data) {
    ASSERT_TRUE(pt::SetRegistryRaw(subkey_, name, type, data));
  }

  // The stored form of a string value: UTF-16LE, normally terminated.
  static std::string Utf16(const std::string& text, bool terminated) {
    std::string bytes;
    for (char c : text) bytes += std::string{c, '\0'};
    if (terminated) bytes += std::string(2, '\0');
    return bytes;
  }

  // Reads into a buffer of `size` bytes followed by guard bytes that must
  // stay untouched.
  RegistryStatus Read(const char* name, size_t size, std::string* text) {
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    const RegistryStatus status =
        DefaultEnv().ReadRegistryString(subkey_.c_str(), name, buffer, size);
    for (size_t i = size; i < sizeof(buffer); ++i) {
      EXPECT_EQ(buffer[i], '#') << "written past the buffer at " << i;
    }
    EXPECT_NE(std::memchr(buffer, '\0', size), nullptr) << "not terminated";
    text->assign(buffer, strnlen(buffer, size));
    return status;
  }

  std::string subkey_;
};

TEST_F(RegistryWin32Test, TypesAndTerminators) {
  Set("Number", kRegDword, std::string("\x05\0\0\0", 4));
  Set("Binary", kRegBinary, std::string("AB\0", 3));
  Set("Expand", kRegExpandSz, Utf16("%SystemRoot%\\x", true));
  Set("Bare", kRegSz, Utf16("AB", false));
  Set("Plain", kRegSz, Utf16("C:\\Program Files\\Agent", true));
  std::string text;

  // Only string types are accepted; the buffer then holds the empty text.
  EXPECT_EQ(Read("Number", 32, &text), RegistryStatus::kUnreadable);
  EXPECT_EQ(text, "");
  EXPECT_EQ(Read("Binary", 32, &text), RegistryStatus::kUnreadable);
  EXPECT_EQ(text, "");

  // An expandable string is taken as written.
  EXPECT_EQ(Read("Expand", 32, &text), RegistryStatus::kOk);
  EXPECT_EQ(text, "%SystemRoot%\\x");

  // A string stored without a terminator is terminated inside the buffer,
  // or refused when there is no room for the terminator.
  EXPECT_EQ(Read("Bare", 3, &text), RegistryStatus::kOk);
  EXPECT_EQ(text, "AB");
  EXPECT_EQ(Read("Bare", 2, &text), RegistryStatus::kUnreadable);
  EXPECT_EQ(text, "");

  // Exactly fitting, and one byte short: refused, never cut.
  const std::string plain = "C:\\Program Files\\Agent";
  EXPECT_EQ(Read("Plain", plain.size() + 1, &text), RegistryStatus::kOk);
  EXPECT_EQ(text, plain);
  EXPECT_EQ(Read("Plain", plain.size(), &text), RegistryStatus::kUnreadable);
  EXPECT_EQ(text, "");
}

}  // namespace
}  // namespace platform
