// Linux's ANSI code page is Windows-1252, by table: glibc's converter
// refuses the five bytes Windows passes through as control characters, so
// it would not read what Windows reads.
#include "platform/code_page.h"

namespace platform {

unsigned AnsiCodePage() { return 1252; }

std::u16string AnsiToUtf16(std::string_view ansi) {
  std::u16string out;
  out.reserve(ansi.size());
  for (const char c : ansi) out.push_back(Cp1252ToUtf16(static_cast<unsigned char>(c)));
  return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size());
  for (const char16_t unit : utf16) out.push_back(Utf16ToCp1252(unit));
  return out;
}

}  // namespace platform
