#include "platform/posix/command_line.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/file.h"
#include "platform/process_info.h"

namespace platform::posix {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::vector<std::string> SplitArguments(std::string_view s) {
  std::vector<std::string> args;
  const size_t n = s.size();
  size_t i = 0;
  for (;;) {
    while (i < n && IsBlank(s[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool in_quotes = false;
    for (;;) {
      size_t slashes = 0;
      while (i < n && s[i] == '\\') {
        ++i;
        ++slashes;
      }
      bool copy = true;
      if (i < n && s[i] == '"') {
        if (slashes % 2 == 0) {
          if (in_quotes && i + 1 < n && s[i + 1] == '"') {
            ++i;  // "" inside quotes: one literal quote, still quoted
          } else {
            copy = false;
            in_quotes = !in_quotes;
          }
        }
        slashes /= 2;
      }
      arg.append(slashes, '\\');
      if (i >= n || (!in_quotes && IsBlank(s[i]))) break;
      if (copy) arg.push_back(s[i]);
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::vector<ProgramChoice> ProgramChoices(std::string_view line) {
  std::vector<ProgramChoice> choices;
  if (line.empty()) return choices;
  if (line.front() == '"') {
    const size_t close = line.find('"', 1);
    // Without a closing quote the quote is part of an unquoted name.
    if (close != std::string_view::npos) {
      choices.push_back({std::string(line.substr(1, close - 1)), line.substr(close + 1)});
      return choices;
    }
  }
  // The first character always belongs to the name, even a blank.
  for (size_t i = 1; i < line.size(); ++i) {
    if (IsBlank(line[i])) {
      choices.push_back({std::string(line.substr(0, i)), line.substr(i)});
    }
  }
  choices.push_back({std::string(line), std::string_view()});
  return choices;
}

std::string FindExecutable(const std::string& name) {
  const std::string native = NativePath(name);
  if (native.empty()) return "";
  if (native.find('/') != std::string::npos) {
    return IsExecutableFile(native) ? native : "";
  }
  std::vector<std::string> dirs = {ExecutableDirectory(), "."};
  if (const char* path = std::getenv("PATH")) {
    std::string_view rest(path);
    for (;;) {
      const size_t colon = rest.find(':');
      const std::string_view dir = rest.substr(0, colon);
      dirs.emplace_back(dir.empty() ? "." : dir);
      if (colon == std::string_view::npos) break;
      rest.remove_prefix(colon + 1);
    }
  }
  for (const std::string& dir : dirs) {
    if (dir.empty()) continue;
    std::string candidate = dir;
    candidate += '/';
    candidate += native;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return "";
}

bool ResolveCommandLine(std::string_view command_line, ResolvedCommand* out) {
  for (const ProgramChoice& choice : ProgramChoices(command_line)) {
    std::string path = FindExecutable(choice.name);
    if (path.empty()) continue;
    out->path = std::move(path);
    out->argv = SplitArguments(choice.rest);
    out->argv.insert(out->argv.begin(), choice.name);
    return true;
  }
  return false;
}

}  // namespace platform::posix
