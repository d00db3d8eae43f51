// Texts in the JSON output of the tools: quoted, with quotes, backslashes and
// control characters escaped. Other bytes pass as they are (the data file's
// texts are ANSI; a reader that wants UTF-8 converts them).
#ifndef SCHEDEXE_TOOLS_JSON_TEXT_H_
#define SCHEDEXE_TOOLS_JSON_TEXT_H_

#include <cstdio>
#include <string>

namespace tools {

inline std::string JsonText(const std::string& text) {
  std::string out = "\"";
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      out += escape;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

}  // namespace tools

#endif  // SCHEDEXE_TOOLS_JSON_TEXT_H_
