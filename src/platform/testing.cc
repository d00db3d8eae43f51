// Test support that is the same on every OS.
#include "platform/testing.h"

namespace platform::testing {

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
