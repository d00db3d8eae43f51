// Windows-1252 by table: glibc's converter refuses the five bytes Windows
// passes through as control characters, so it would not read what Windows
// reads.
#include "platform/code_page.h"

#include <cstdint>

namespace platform {

namespace {

// Characters of the bytes 0x80 to 0x9F; every other byte is its own code.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

char16_t ToUtf16(uint8_t byte) { return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte; }

char ToAnsi(char16_t unit) {
  if (unit < 0x80 || (unit >= 0xA0 && unit < 0x100)) return static_cast<char>(unit);
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == unit) return static_cast<char>(0x80 + i);
  }
  return '?';
}

}  // namespace

unsigned AnsiCodePage() { return 1252; }

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (const char c : ansi) out.push_back(ToUtf16(static_cast<uint8_t>(c)));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (const char16_t unit : utf16) out.push_back(ToAnsi(unit));
  return out;
}

}  // namespace platform
