// Registry reads as the scheduler makes them: whole values or nothing, and a
// missing key told apart from a missing value. Run against the OS backend and
// against the tests' FakeEnv, so the fake can never drift from the real one.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/env.h"
#include "platform/testing.h"
#include "support/fake_env.h"
#include "support/scoped_globals.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

// The real registry (Windows) or registry file (Linux), in a scratch folder.
class RealRegistry {
 public:
  bool Set(const std::string& key, const char* name, const std::string& data) {
    return pt::SetRegistryString(key, name, data);
  }
  bool Delete(const std::string& key) { return pt::DeleteRegistryKey(key); }

 private:
  testsupport::ScratchDir dir_{"registry"};
  // Linux reads this file; Windows ignores it.
  testsupport::ScopedEnv file_{"SCHEDEXE_REGISTRY", dir_.Path("registry.reg").c_str()};
};

class FakeRegistry {
 public:
  bool Set(const std::string& key, const char* name, const std::string& data) {
    env_.SetValue(key, name, data);
    return true;
  }
  bool Delete(const std::string& key) {
    env_.DeleteKey(key);
    return true;
  }

 private:
  testsupport::FakeEnv env_;  // installed as the system Env
};

template <typename Backend>
class RegistryTest : public ::testing::Test {
 protected:
  ~RegistryTest() override { registry_.Delete(key_); }

  RegistryStatus Read(const std::string& key, const char* value, size_t size) {
    std::memset(buffer_, 'x', sizeof(buffer_));
    return SystemEnv().ReadRegistryString(key.c_str(), value, buffer_, size);
  }

  Backend registry_;
  const std::string key_ = testsupport::UniqueName("SOFTWARE\\SchedExeTest\\Run");
  char buffer_[64];
};

using Backends = ::testing::Types<RealRegistry, FakeRegistry>;
TYPED_TEST_SUITE(RegistryTest, Backends);

TYPED_TEST(RegistryTest, ReadsWholeValuesOrNothingAndTellsAMissingKeyFromAMissingValue) {
  const std::string& key = this->key_;
  char* buffer = this->buffer_;
  EXPECT_EQ(this->Read(key, "TTX Path", 64), RegistryStatus::kNoKey);
  EXPECT_STREQ(buffer, "");
  ASSERT_TRUE(this->registry_.Set(key + "\\ZIZ2UDE", "DatsPath", "C:\\Program Files\\\"agent\"\\"));
  // The parent key exists once a subkey was written; it has no such value.
  EXPECT_EQ(this->Read(key, "TTX Path", 64), RegistryStatus::kUnreadable);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(this->Read(key + "\\ZIZ2UDE", "Other", 64), RegistryStatus::kUnreadable);
  EXPECT_EQ(this->Read(key + "\\Missing", "DatsPath", 64), RegistryStatus::kNoKey);

  ASSERT_TRUE(this->registry_.Set(key, "TTX Path", "/opt/agent"));
  ASSERT_TRUE(this->registry_.Set(key, "Empty", ""));
  EXPECT_EQ(this->Read(key, "TTX Path", 1024), RegistryStatus::kOk);
  EXPECT_STREQ(buffer, "/opt/agent");
  // Key and value names compare without regard to case.
  EXPECT_EQ(this->Read(key + "\\ziz2ude", "DATSPATH", 64), RegistryStatus::kOk);
  EXPECT_STREQ(buffer, "C:\\Program Files\\\"agent\"\\");
  EXPECT_EQ(this->Read(key, "Empty", 1), RegistryStatus::kOk);
  EXPECT_STREQ(buffer, "");

  // "/opt/agent" is 10 characters: 11 bytes fit exactly, 10 are refused
  // without a byte written past them.
  EXPECT_EQ(this->Read(key, "TTX Path", 11), RegistryStatus::kOk);
  EXPECT_STREQ(buffer, "/opt/agent");
  EXPECT_EQ(buffer[11], 'x');
  EXPECT_EQ(this->Read(key, "TTX Path", 10), RegistryStatus::kUnreadable);
  EXPECT_STREQ(buffer, "");
  EXPECT_EQ(std::string(buffer + 1, 20), std::string(20, 'x'));

  // A rewrite replaces the value, whatever the case of its name.
  ASSERT_TRUE(this->registry_.Set(key, "ttx path", "/srv/other"));
  EXPECT_EQ(this->Read(key, "TTX Path", 1024), RegistryStatus::kOk);
  EXPECT_STREQ(buffer, "/srv/other");

  // A deleted key takes its subkeys along.
  ASSERT_TRUE(this->registry_.Delete(key));
  EXPECT_EQ(this->Read(key + "\\ZIZ2UDE", "DatsPath", 64), RegistryStatus::kNoKey);
  EXPECT_EQ(this->Read(key, "TTX Path", 64), RegistryStatus::kNoKey);
}

}  // namespace
}  // namespace platform
