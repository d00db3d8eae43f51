#include "platform/code_page.h"

namespace platform {

namespace {

// Characters of the bytes 0x80 to 0x9F; every other byte is its own code.
constexpr char16_t kHigh[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

}  // namespace

char16_t Cp1252ToUtf16(unsigned char byte) {
  return byte >= 0x80 && byte < 0xA0 ? kHigh[byte - 0x80] : byte;
}

char Utf16ToCp1252(uint32_t character) {
  if (character < 0x80 || (character >= 0xA0 && character < 0x100)) {
    return static_cast<char>(character);
  }
  for (int i = 0; i < 32; ++i) {
    if (kHigh[i] == character) return static_cast<char>(0x80 + i);
  }
  return '?';
}

std::string AnsiToUtf16Le(std::string_view ansi) {
  std::string bytes;
  for (const char16_t unit : AnsiToUtf16(ansi)) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::string Utf16LeToAnsi(std::string_view bytes) {
  std::u16string wide;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
    wide.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                         static_cast<unsigned char>(bytes[i + 1]) << 8));
  }
  return Utf16ToAnsi(wide);
}

}  // namespace platform
