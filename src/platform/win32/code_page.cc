// The system's ANSI code page through the Win32 converters.
#include "platform/code_page.h"

#include <windows.h>

namespace platform {

unsigned AnsiCodePage() { return GetACP(); }

std::u16string AnsiToUtf16(std::string_view ansi) {
  if (ansi.empty()) return u"";
  const int length = static_cast<int>(ansi.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
  if (units <= 0) return u"";
  std::u16string out(static_cast<size_t>(units), u'\0');
  MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, reinterpret_cast<wchar_t*>(out.data()),
                      units);
  return out;
}

std::string Utf16ToAnsi(std::u16string_view utf16) {
  if (utf16.empty()) return "";
  const auto* units = reinterpret_cast<const wchar_t*>(utf16.data());
  const int length = static_cast<int>(utf16.size());
  // No best-fit look-alikes: Linux has no table of them, and both systems
  // must show the same text.
  const int bytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, length, nullptr, 0,
                                        nullptr, nullptr);
  if (bytes <= 0) return "";
  std::string out(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, units, length, out.data(), bytes, nullptr,
                      nullptr);
  return out;
}

}  // namespace platform
