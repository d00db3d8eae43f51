// Registry reads as the scheduler makes them: whole values or nothing, and a
// missing key told apart from a missing value.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "platform/env.h"
#include "platform/testing.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = pt::MakeTempDir("registry");
    ASSERT_FALSE(dir_.empty());
    // Linux reads this file; Windows has the real registry and ignores it.
    ASSERT_TRUE(
        pt::SetEnv("SCHEDEXE_REGISTRY", dir_ + pt::Sep() + "registry.reg"));
    key_ = "SOFTWARE\\SchedExeTest\\Run" +
           std::to_string(
               std::chrono::steady_clock::now().time_since_epoch().count());
  }
  void TearDown() override {
    pt::DeleteRegistryKey(key_);
    pt::UnsetEnv("SCHEDEXE_REGISTRY");
    pt::RemoveTree(dir_);
  }

  RegistryStatus Read(const std::string& key, const char* value, size_t size) {
    std::memset(buffer_, 'x', sizeof(buffer_));
    return SystemEnv().ReadRegistryString(key.c_str(), value, buffer_, size);
  }

  std::string dir_;
  std::string key_;
  char buffer_[64];
};

TEST_F(RegistryTest, ReadsWholeValuesOrNothing) {
  ASSERT_TRUE(pt::SetRegistryString(key_, "TTX Path", "/opt/agent"));
  ASSERT_TRUE(pt::SetRegistryString(key_ + "\\ZIZ2UDE", "DatsPath",
                                    "C:\\Program Files\\\"agent\"\\"));
  ASSERT_TRUE(pt::SetRegistryString(key_, "Empty", ""));

  EXPECT_EQ(Read(key_, "TTX Path", 1024), RegistryStatus::kOk);
  EXPECT_STREQ(buffer_, "/opt/agent");
  // Key and value names compare without regard to case.
  EXPECT_EQ(Read(key_ + "\\ziz2ude", "DATSPATH", 64), RegistryStatus::kOk);
  EXPECT_STREQ(buffer_, "C:\\Program Files\\\"agent\"\\");
  EXPECT_EQ(Read(key_, "Empty", 1), RegistryStatus::kOk);
  EXPECT_STREQ(buffer_, "");

  // "/opt/agent" is 10 characters: 11 bytes fit exactly, 10 are refused
  // without a byte written past them.
  EXPECT_EQ(Read(key_, "TTX Path", 11), RegistryStatus::kOk);
  EXPECT_STREQ(buffer_, "/opt/agent");
  EXPECT_EQ(buffer_[11], 'x');
  EXPECT_EQ(Read(key_, "TTX Path", 10), RegistryStatus::kUnreadable);
  EXPECT_STREQ(buffer_, "");
  EXPECT_EQ(std::string(buffer_ + 1, 20), std::string(20, 'x'));

  // A rewrite replaces the value.
  ASSERT_TRUE(pt::SetRegistryString(key_, "TTX Path", "/srv/other"));
  EXPECT_EQ(Read(key_, "TTX Path", 1024), RegistryStatus::kOk);
  EXPECT_STREQ(buffer_, "/srv/other");
}

TEST_F(RegistryTest, MissingKeyAndMissingValueDiffer) {
  EXPECT_EQ(Read(key_, "TTX Path", 64), RegistryStatus::kNoKey);
  EXPECT_STREQ(buffer_, "");

  ASSERT_TRUE(
      pt::SetRegistryString(key_ + "\\ZIZ2UDE", "DatsPath", "/var/lib/agent"));
  // The parent key exists once a subkey was written; it has no such value.
  EXPECT_EQ(Read(key_, "TTX Path", 64), RegistryStatus::kUnreadable);
  EXPECT_STREQ(buffer_, "");
  EXPECT_EQ(Read(key_ + "\\ZIZ2UDE", "Other", 64), RegistryStatus::kUnreadable);
  EXPECT_EQ(Read(key_ + "\\Missing", "DatsPath", 64), RegistryStatus::kNoKey);

  ASSERT_TRUE(pt::DeleteRegistryKey(key_));
  EXPECT_EQ(Read(key_ + "\\ZIZ2UDE", "DatsPath", 64), RegistryStatus::kNoKey);
  EXPECT_EQ(Read(key_, "TTX Path", 64), RegistryStatus::kNoKey);
}

}  // namespace
}  // namespace platform
