// Single-byte texts of the ANSI code page and their UTF-16 form, for the DMI
// components that keep their texts in UTF-16. Windows uses the system's ANSI
// code page; Linux uses Windows-1252, the one Wine gives a Western system.
#ifndef SCHEDEXE_PLATFORM_CODE_PAGE_H_
#define SCHEDEXE_PLATFORM_CODE_PAGE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

// The number of the ANSI code page (1252 on Linux).
unsigned AnsiCodePage();

// Every byte becomes its character (Windows-1252 maps each of its 256 bytes,
// the five it leaves unassigned to the control characters of the same
// number). Empty for a text the code page cannot read (Windows, multi-byte
// code pages only).
std::u16string AnsiToUtf16(std::string_view ansi);

// Every character becomes its byte; one the code page lacks becomes "?" on
// both systems (no look-alike substitutes, which only Windows would make).
std::string Utf16ToAnsi(std::u16string_view utf16);

// The same with the UTF-16 side as little-endian bytes, the form texts take
// in DMI commands and replies; an odd last byte is dropped.
std::string AnsiToUtf16Le(std::string_view ansi);
std::string Utf16LeToAnsi(std::string_view bytes);

// Windows-1252 on both systems (the code page of the profile files, and
// Linux's ANSI code page): a byte as its character, and a character as its
// byte, "?" for one the code page lacks. The five bytes it leaves
// unassigned stand for the control characters of the same number.
char16_t Cp1252ToUtf16(unsigned char byte);
char Utf16ToCp1252(uint32_t character);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_CODE_PAGE_H_
