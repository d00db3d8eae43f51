// Reads and writes the profile data file through kvbase, with its locking,
// so that what it shows is exactly what the service sees; "check" lists what
// the service would pass over in silence.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "kvbase/profile.h"
#include "platform/file.h"
#include "profile_check.h"

namespace {

// The service reads text values into 80-byte buffers.
constexpr int kDefaultSize = 80;

constexpr int kUsageError = 2;
constexpr int kMissing = 3;

constexpr char kUsage[] =
    "usage: tarnprofile get [--size N] [--strict] FILE SECTION KEY\n"
    "       tarnprofile getint FILE SECTION KEY\n"
    "       tarnprofile set [--create] FILE SECTION KEY VALUE\n"
    "       tarnprofile delete-section FILE SECTION\n"
    "       tarnprofile check FILE\n"
    "       tarnprofile --help\n"
    "\n"
    "get prints the value and a newline, read through an N-byte buffer (default 80,\n"
    "as the service reads); a missing key or file reads as the empty value, unless\n"
    "--strict is given. getint prints the value as the service uses it (default 0).\n"
    "set refuses a file that does not exist unless --create is given.\n"
    "check prints one line, \"[SECTION] KEY: problem\", for each thing the service\n"
    "would pass over in silence: unknown words, numbers it rolls over, slots, names\n"
    "and states its passes never act on.\n"
    "\n"
    "Exit status: 0 done (check: no problem); 1 a write failed, set found no file,\n"
    "or check found problems; 2 a usage error, or a file check cannot read;\n"
    "3 get --strict found no such key or file.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "tarnprofile: %s\n%s", problem, kUsage);
  return kUsageError;
}

bool FileMissing(const std::string& file) {
  platform::FileStamp stamp;
  return platform::StatFile(platform::NativePath(file), &stamp) == platform::FileStatus::kMissing;
}

// A key reads as the default only when it is missing (or its file is), so
// two different defaults tell a missing key from one that holds "".
bool KeyPresent(const std::string& file, const std::string& section, const std::string& key) {
  char first[3] = {};
  char second[3] = {};
  TARNG_GetProfileString(section.c_str(), key.c_str(), "\x01", first, sizeof first, file.c_str());
  TARNG_GetProfileString(section.c_str(), key.c_str(), "\x02", second, sizeof second, file.c_str());
  return std::string(first) == second;
}

int Get(std::vector<std::string> args) {
  long size = kDefaultSize;
  bool strict = false;
  while (!args.empty() && (args[0] == "--size" || args[0] == "--strict")) {
    if (args[0] == "--strict") {
      strict = true;
      args.erase(args.begin());
      continue;
    }
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
  if (strict && !KeyPresent(args[0], args[1], args[2])) {
    if (FileMissing(args[0])) {
      std::fprintf(stderr, "tarnprofile: %s: no such file\n", args[0].c_str());
    } else {
      std::fprintf(stderr, "tarnprofile: %s: no key \"%s\" in [%s]\n", args[0].c_str(),
                   args[2].c_str(), args[1].c_str());
    }
    return kMissing;
  }
  std::vector<char> buffer(static_cast<size_t>(size), '\0');
  TARNG_GetProfileString(args[1].c_str(), args[2].c_str(), "", buffer.data(),
                         static_cast<int>(size), args[0].c_str());
  std::printf("%s\n", buffer.data());
  return 0;
}

// Usage error naming the first argument that would damage the file.
int Refuse(const std::vector<std::pair<std::string, std::string>>& parts) {
  for (const auto& [text, what] : parts) {
    const std::string why = tools::Unreadable(text, what);
    if (!why.empty()) return Usage(why.c_str());
  }
  return 0;
}

int Fail(const std::string& reason) {
  std::fprintf(stderr, "tarnprofile: %s\n", reason.c_str());
  return 1;
}

int Check(const std::vector<std::string>& args) {
  if (args.size() != 1) return Usage("check takes FILE");
  std::string contents;
  if (platform::ReadFileContents(platform::NativePath(args[0]), &contents, nullptr) !=
      platform::FileStatus::kOk) {
    std::fprintf(stderr, "tarnprofile: %s: cannot read the file\n", args[0].c_str());
    return kUsageError;
  }
  const std::vector<tools::ProfileProblem> problems = tools::CheckProfileFile(args[0]);
  for (const tools::ProfileProblem& problem : problems) {
    std::printf("%s\n", tools::FormatProblem(problem).c_str());
  }
  return problems.empty() ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  const std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "get") return Get(args);
  if (command == "check") return Check(args);
  if (command == "getint") {
    if (args.size() != 3) return Usage("getint takes FILE SECTION KEY");
    std::printf("%d\n", TARNG_GetProfileInt(args[1].c_str(), args[2].c_str(), 0, args[0].c_str()));
    return 0;
  }
  std::string error;
  if (command == "set") {
    const bool create = !args.empty() && args[0] == "--create";
    if (create) args.erase(args.begin());
    if (args.size() != 4) return Usage("set takes FILE SECTION KEY VALUE");
    if (const int refused = Refuse({{args[1], "section"}, {args[2], "key"}, {args[3], "value"}})) {
      return refused;
    }
    if (!create && FileMissing(args[0])) {
      return Fail(args[0] + ": no such file (--create makes it)");
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
