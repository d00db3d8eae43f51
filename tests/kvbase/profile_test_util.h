// Scratch files for the kvbase tests.
#ifndef SCHEDEXE_TESTS_KVBASE_PROFILE_TEST_UTIL_H_
#define SCHEDEXE_TESTS_KVBASE_PROFILE_TEST_UTIL_H_

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "kvbase/profile.h"
#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace kvbase_test {

using ::platform::testing::FileContents;
using testsupport::ScratchDir;
using testsupport::WriteBytes;

inline bool Exists(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return in.good();
}

// A read as the service makes it, with a buffer of `size` bytes.
inline std::string Get(const std::string& file, const char* section, const char* key,
                       const char* def = "", int size = 80) {
  std::string buffer(static_cast<size_t>(size) + 16, '#');
  TARNG_GetProfileString(section, key, def, buffer.data(), size, file.c_str());
  // Nothing may be written past the buffer.
  EXPECT_EQ(buffer.substr(static_cast<size_t>(size)), std::string(16, '#'));
  return std::string(buffer.c_str());
}

}  // namespace kvbase_test

#endif  // SCHEDEXE_TESTS_KVBASE_PROFILE_TEST_UTIL_H_
