// Test support that is the same on every OS.
#include "platform/testing.h"

#include "platform/file.h"

namespace platform::testing {

std::string FileContents(const std::string& native_path) {
  std::string bytes;
  ReadFileContents(native_path, &bytes, nullptr);
  return bytes;
}

void AppendQuotedArgument(const std::string& arg, std::string* out) {
  if (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos) {
    *out += arg;
    return;
  }
  *out += '"';
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out->append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    *out += c;
  }
  out->append(backslashes * 2, '\\');
  *out += '"';
}

}  // namespace platform::testing
