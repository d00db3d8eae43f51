#include "service/command_line.h"

#include <cctype>
#include <list>
#include <string>

#include "platform/program_entry.h"
#include "platform/text.h"

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

bool IsForegroundRequest(int count, char* const table[kMaxTokens]) {
  return count == 2 && platform::EqualsIgnoreCase(table[1], kForegroundSwitch);
}

}  // namespace service
