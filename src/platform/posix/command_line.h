// Windows command lines on Linux: which program CreateProcessA would start
// and the argv a Microsoft C runtime program would see.
#ifndef SCHEDEXE_PLATFORM_POSIX_COMMAND_LINE_H_
#define SCHEDEXE_PLATFORM_POSIX_COMMAND_LINE_H_

#include <string>
#include <string_view>
#include <vector>

namespace platform::posix {

// Splits arguments by the rules of the Microsoft C runtime (ucrt): blanks
// separate; "..." groups; 2n backslashes before a quote give n and the quote
// groups, 2n+1 give n and a literal quote; "" inside a group is a literal
// quote; other backslashes stand for themselves.
std::vector<std::string> SplitArguments(std::string_view text);

// One reading of the program name: the name as written, and the text after
// it that holds the arguments.
struct ProgramChoice {
  std::string name;
  std::string_view rest;
};

// The program names CreateProcessA(NULL, command_line) tries, in order: the
// text between a leading quote and the next one; otherwise every prefix that
// ends before a blank or tab, then the whole line.
std::vector<ProgramChoice> ProgramChoices(std::string_view command_line);

// Native path of the executable regular file a program name denotes, or ""
// when there is none. A name with a path separator is taken as it stands
// (relative to the current directory); a bare name is looked for, as
// CreateProcessA does, beside our own executable, in the current directory,
// then along PATH (Linux has no system folders of Windows' kind).
std::string FindExecutable(const std::string& name);

struct ResolvedCommand {
  std::string path;               // native path of the program
  std::vector<std::string> argv;  // argv[0]: the program name as written
};

// The first program choice that names an executable, with its arguments.
bool ResolveCommandLine(std::string_view command_line, ResolvedCommand* out);

}  // namespace platform::posix

#endif  // SCHEDEXE_PLATFORM_POSIX_COMMAND_LINE_H_
