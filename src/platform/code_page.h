// Single-byte texts of the ANSI code page and their UTF-16 form, for the DMI
// components that keep their texts in UTF-16. Windows uses the system's ANSI
// code page; Linux uses Windows-1252, the one Wine gives a Western system.
#ifndef SCHEDEXE_PLATFORM_CODE_PAGE_H_
#define SCHEDEXE_PLATFORM_CODE_PAGE_H_

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

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_CODE_PAGE_H_
