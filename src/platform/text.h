// The case rule of the system's own words and names: data-file words,
// command-line switches, the service name, registry names. It is the C
// runtime's _stricmp in the C locale: ASCII letters compare without regard to
// case; every other byte, 'É' and 'é' among them, only equals itself. (The
// profile functions' rule for section and key names is kvbase's own.)
#ifndef SCHEDEXE_PLATFORM_TEXT_H_
#define SCHEDEXE_PLATFORM_TEXT_H_

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// _stricmp(a, b) == 0, for texts that may hold any bytes.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// `text` with its ASCII capitals made small: one spelling for all the texts
// EqualsIgnoreCase takes as one, for map keys and prefixes.
std::string FoldCase(std::string_view text);

// The Windows command line of a program and its arguments: the program name
// in quotes when it holds a blank (a C runtime reads the name up to the next
// quote, without escapes); each argument quoted only when needed, with
// backslashes doubled only before a quote, so that the C runtime splits it
// back unchanged.
std::string WindowsCommandLine(const std::vector<std::string>& argv);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_TEXT_H_
