// What only the real registry can hold: values that are not plain strings,
// strings stored without their terminator, and expandable strings. (Exact
// fits and values one byte too long are read from the real registry in
// registry_test.cc.)
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

// The stored form of a string value: UTF-16LE, normally terminated.
std::string Utf16(const std::string& text, bool terminated) {
  std::string bytes;
  for (char c : text) bytes += std::string{c, '\0'};
  if (terminated) bytes += std::string(2, '\0');
  return bytes;
}

TEST(RegistryWin32Test, TypesAndTerminators) {
  const std::string dir = pt::MakeTempDir("registry-win32");
  ASSERT_FALSE(dir.empty());
  pt::RemoveTree(dir);
  // The folder's unique name keeps parallel runs apart.
  const std::string subkey = "SOFTWARE\\SchedExeTest\\" + dir.substr(dir.rfind('\\') + 1);
  const struct {
    const char* name;
    uint32_t type;
    std::string data;
    size_t size;
    RegistryStatus status;
    const char* text;
  } kCases[] = {
      // Only string types are accepted; the buffer then holds the empty text.
      {"Number", kRegDword, std::string("\x05\0\0\0", 4), 32, RegistryStatus::kUnreadable, ""},
      {"Binary", kRegBinary, std::string("AB\0", 3), 32, RegistryStatus::kUnreadable, ""},
      // An expandable string is taken as written.
      {"Expand", kRegExpandSz, Utf16("%SystemRoot%\\x", true), 32, RegistryStatus::kOk,
       "%SystemRoot%\\x"},
      // A string stored without a terminator is terminated inside the
      // buffer, or refused when there is no room for the terminator.
      {"Bare", kRegSz, Utf16("AB", false), 3, RegistryStatus::kOk, "AB"},
      {"Bare", kRegSz, Utf16("AB", false), 2, RegistryStatus::kUnreadable, ""},
  };
  for (const auto& c : kCases) {
    ASSERT_TRUE(pt::SetRegistryRaw(subkey, c.name, c.type, c.data));
    // Guard bytes after the buffer must stay untouched.
    char buffer[64];
    std::memset(buffer, '#', sizeof(buffer));
    EXPECT_EQ(DefaultEnv().ReadRegistryString(subkey.c_str(), c.name, buffer, c.size), c.status)
        << c.name << " in " << c.size;
    for (size_t i = c.size; i < sizeof(buffer); ++i) {
      EXPECT_EQ(buffer[i], '#') << c.name << " written past the buffer at " << i;
    }
    ASSERT_NE(std::memchr(buffer, '\0', c.size), nullptr) << c.name << " not terminated";
    EXPECT_STREQ(buffer, c.text) << c.name;
  }
  EXPECT_TRUE(pt::DeleteRegistryKey(subkey));
}

}  // namespace
}  // namespace platform
