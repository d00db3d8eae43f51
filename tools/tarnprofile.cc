// Reads and writes the profile data file through kvbase, with its locking,
// so that what it shows is exactly what the service sees.
//   tarnprofile get [--size N] FILE SECTION KEY
//   tarnprofile getint FILE SECTION KEY
//   tarnprofile set FILE SECTION KEY VALUE
//   tarnprofile delete-section FILE SECTION
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "kvbase/profile.h"
#include "kvbase/profile_text.h"

namespace {

// The service reads text values into 80-byte buffers.
constexpr int kDefaultSize = 80;

constexpr char kUsage[] =
    "usage: tarnprofile get [--size N] FILE SECTION KEY\n"
    "       tarnprofile getint FILE SECTION KEY\n"
    "       tarnprofile set FILE SECTION KEY VALUE\n"
    "       tarnprofile delete-section FILE SECTION\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "tarnprofile: %s\n%s", problem, kUsage);
  return 2;
}

int Get(std::vector<std::string> args) {
  long size = kDefaultSize;
  if (!args.empty() && args[0] == "--size") {
    if (args.size() < 2) return Usage("--size needs a number");
    char* end = nullptr;
    errno = 0;
    size = std::strtol(args[1].c_str(), &end, 10);
    if (args[1].empty() || *end || errno || size < 1 || size > (1 << 26)) {
      return Usage("--size needs a number from 1 to 67108864");
    }
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.size() != 3) return Usage("get takes FILE SECTION KEY");
  std::vector<char> buffer(static_cast<size_t>(size), '\0');
  TARNG_GetProfileString(args[1].c_str(), args[2].c_str(), "", buffer.data(),
                         static_cast<int>(size), args[0].c_str());
  std::printf("%s\n", buffer.data());
  return 0;
}

// Why `text` would not read back as written in the role `what` ("section",
// "key" or "value"), or "" when it would. The reader splits lines at CR and
// LF, trims blanks at both ends, splits a key line at its first '=', takes a
// line that starts with '[' for a header and one with ';' for a comment, and
// drops one pair of matching outer quotes from a value.
std::string Unreadable(const std::string& text, const std::string& what) {
  if (text.find_first_of("\r\n") != std::string::npos) return what + " holds a line break";
  if (!text.empty() && (kvbase::IsProfileSpace(static_cast<unsigned char>(text.front())) ||
                        kvbase::IsProfileSpace(static_cast<unsigned char>(text.back())))) {
    return what + " starts or ends with a blank";
  }
  if (what == "key") {
    if (text.find('=') != std::string::npos) return "key holds '='";
    if (!text.empty() && (text[0] == '[' || text[0] == ';')) return "key starts with '[' or ';'";
  }
  if (what == "value" && text.size() > 1 && (text[0] == '"' || text[0] == '\'') &&
      text.back() == text[0]) {
    return "value is in matching quotes, which the reader drops";
  }
  return "";
}

// Usage error naming the first argument that would damage the file.
int Refuse(const std::vector<std::pair<std::string, std::string>>& parts) {
  for (const auto& [text, what] : parts) {
    const std::string why = Unreadable(text, what);
    if (!why.empty()) return Usage(why.c_str());
  }
  return 0;
}

int Fail(const std::string& reason) {
  std::fprintf(stderr, "tarnprofile: %s\n", reason.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "get") return Get(args);
  if (command == "getint") {
    if (args.size() != 3) return Usage("getint takes FILE SECTION KEY");
    std::printf("%d\n", TARNG_GetProfileInt(args[1].c_str(), args[2].c_str(), 0, args[0].c_str()));
    return 0;
  }
  std::string error;
  if (command == "set") {
    if (args.size() != 4) return Usage("set takes FILE SECTION KEY VALUE");
    if (const int refused = Refuse({{args[1], "section"}, {args[2], "key"}, {args[3], "value"}})) {
      return refused;
    }
    if (!kvbase::WriteProfileString(args[1].c_str(), args[2].c_str(), args[3].c_str(),
                                    args[0].c_str(), &error)) {
      return Fail(error);
    }
    return 0;
  }
  if (command == "delete-section") {
    if (args.size() != 2) return Usage("delete-section takes FILE SECTION");
    if (const int refused = Refuse({{args[1], "section"}})) return refused;
    if (!kvbase::WriteProfileString(args[1].c_str(), nullptr, nullptr, args[0].c_str(), &error)) {
      return Fail(error);
    }
    return 0;
  }
  return Usage(("unknown command \"" + command + "\"").c_str());
}
