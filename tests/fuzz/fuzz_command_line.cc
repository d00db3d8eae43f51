// The two command-line splitters. The C-runtime splitter gives back any argv
// quoted the Windows way (the input is the argv, NUL between arguments). The
// service's own splitter, over the same bytes as one line, stays inside its
// line and its table of 50 tokens.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/command_line.h"
#include "platform/text.h"
#include "service/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  // A program name first, as the quoting takes it; the rest are arguments.
  std::vector<std::string> argv = {"p"};
  for (size_t at = 0, end; size > 0 && at <= size; at = end + 1) {
    end = std::min(input.find('\0', at), size);
    argv.push_back(input.substr(at, end - at));
  }
  const std::string line = platform::WindowsCommandLine(argv);
  argv.erase(argv.begin());
  FUZZ_CHECK(platform::posix::SplitArguments(line.substr(std::min<size_t>(2, line.size()))) ==
             argv);

  // Exactly the bytes of the line on the heap, so a read past it is caught.
  const auto text = std::make_unique<char[]>(size + 1);
  std::memcpy(text.get(), data, size);
  text[size] = '\0';
  const size_t length = std::strlen(text.get());
  const auto table = std::make_unique<char*[]>(service::kMaxTokens);
  int count = -1;
  service::SplitCommandLine(text.get(), &count, table.get());
  FUZZ_CHECK(count >= 0 && static_cast<size_t>(count) <= length);
  for (int i = 0; i < std::min(count, service::kMaxTokens); ++i) {
    FUZZ_CHECK(table[i] >= text.get() && table[i] + std::strlen(table[i]) <= text.get() + length);
  }
  service::IsForegroundRequest(count, table.get());
  return 0;
}
