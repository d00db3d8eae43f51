// Test support that is the same on every OS.
#include "platform/testing.h"

#include "platform/file.h"

namespace platform::testing {

std::string FileContents(const std::string& native_path) {
  std::string bytes;
  ReadFileContents(native_path, &bytes, nullptr);
  return bytes;
}

}  // namespace platform::testing
