// Asks a running scheduler to reload, as the agent's programs do after they
// edit the data file: signals the named event "TARNSCHED".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/named_event.h"

namespace {
constexpr char kReloadEventName[] = "TARNSCHED";

int Usage() {
  std::fprintf(stderr, "usage: tarnsched-signal [--create] [--name NAME] [--times N]\n");
  return 2;
}
}  // namespace

int main(int argc, char** argv) {
  bool create = false;
  const char* name = kReloadEventName;
  long times = 1;  // a burst, as busy editors of the data file send
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--create") == 0) {
      create = true;
    } else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
      name = argv[++i];
    } else if (std::strcmp(argv[i], "--times") == 0 && i + 1 < argc) {
      char* end = nullptr;
      times = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || times < 1 || times > 1000000) return Usage();
    } else {
      return Usage();
    }
  }
  std::unique_ptr<platform::NamedEvent> event = platform::NamedEvent::Open(name);
  if (!event && create) event = platform::NamedEvent::Create(name);
  if (!event) {
    std::fprintf(stderr,
                 "tarnsched-signal: no scheduler has created the event \"%s\" "
                 "(is schedExe running? --create makes it)\n",
                 name);
    return 1;
  }
  for (long i = 0; i < times; ++i) {
    if (!event->Set()) {
      std::fprintf(stderr, "tarnsched-signal: cannot signal \"%s\"\n", name);
      return 1;
    }
  }
  return 0;
}
