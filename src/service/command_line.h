// The program's command line: split into tokens, and the choice of
// foreground mode ("/d").
#ifndef SCHEDEXE_SERVICE_COMMAND_LINE_H_
#define SCHEDEXE_SERVICE_COMMAND_LINE_H_

namespace service {

// Room in the token table.
inline constexpr int kMaxTokens = 50;

inline constexpr char kForegroundSwitch[] = "/d";

// Splits `text` in place: blanks (isspace) separate tokens; a token that
// starts with a double quote runs to the next double quote (dropped) or to
// the end, and the next token starts right after the closing quote. There is
// no escape character. Each token's end is overwritten with a NUL.
// *count is the number of tokens on the line; only the first kMaxTokens are
// stored in `table`, the rest are counted but never written anywhere. That
// keeps the mode choice as the whole line says (more than two tokens is
// service mode) without writing past the table.
void SplitCommandLine(char* text, int* count, char* table[kMaxTokens]);

// Splits a private, writable copy of the process's own command line (which
// lives until the process ends, since the table points into it).
void ParseCommandLine(int* count, char* table[kMaxTokens]);

// Exactly the program path and "/d" (any case).
bool IsForegroundRequest(int count, char* const table[kMaxTokens]);

}  // namespace service

#endif  // SCHEDEXE_SERVICE_COMMAND_LINE_H_
