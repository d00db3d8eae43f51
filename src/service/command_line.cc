#include "service/command_line.h"

#include <cctype>
#include <list>
#include <string>

#include "platform/program_entry.h"

namespace service {
namespace {

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

void SplitCommandLine(char* text, int* count, char* table[kMaxTokens]) {
  *count = 0;
  char* p = text;
  while (*p != '\0') {
    while (*p != '\0' && IsSpace(*p)) ++p;
    if (*p == '\0') break;
    char* token;
    if (*p == '"') {
      token = ++p;
      while (*p != '\0' && *p != '"') ++p;
    } else {
      token = p;
      while (*p != '\0' && !IsSpace(*p)) ++p;
    }
    if (*count < kMaxTokens) table[*count] = token;
    ++*count;
    if (*p == '\0') break;
    *p++ = '\0';
  }
}

void ParseCommandLine(int* count, char* table[kMaxTokens]) {
  // The tokens point into these copies, so they are kept for good.
  static std::list<std::string> copies;
  copies.push_back(platform::ProgramCommandLine());
  SplitCommandLine(copies.back().data(), count, table);
}

bool EqualsIgnoringCase(const char* a, const char* b) {
  for (;; ++a, ++b) {
    const int x = std::tolower(static_cast<unsigned char>(*a));
    const int y = std::tolower(static_cast<unsigned char>(*b));
    if (x != y) return false;
    if (x == 0) return true;
  }
}

bool IsForegroundRequest(int count, char* const table[kMaxTokens]) {
  return count == 2 && EqualsIgnoringCase(table[1], kForegroundSwitch);
}

}  // namespace service
