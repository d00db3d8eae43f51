#include "platform/text.h"

namespace platform {
namespace {

char Fold(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Fold(a[i]) != Fold(b[i])) return false;
  }
  return true;
}

std::string FoldCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Fold(c);
  return out;
}

std::string WindowsCommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (size_t i = 0; i < argv.size(); ++i) {
    const std::string& arg = argv[i];
    if (i > 0) line += ' ';
    if (i == 0 || (!arg.empty() && arg.find_first_of(" \t\n\v\"") == std::string::npos)) {
      const bool blank = i == 0 && arg.find_first_of(" \t") != std::string::npos;
      line += blank ? '"' + arg + '"' : arg;
      continue;
    }
    line += '"';
    size_t backslashes = 0;
    for (const char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      line.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
      backslashes = 0;
      line += c;
    }
    line.append(backslashes * 2, '\\');
    line += '"';
  }
  return line;
}

}  // namespace platform
