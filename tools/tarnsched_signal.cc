// Asks a running scheduler to reload, as the agent's programs do after they
// edit the data file: signals the named event "TARNSCHED".
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "engine/queue_publication.h"
#include "platform/clock.h"
#include "platform/named_event.h"
#include "platform/shared_snapshot.h"

namespace {
constexpr char kReloadEventName[] = "TARNSCHED";

constexpr char kUsage[] =
    "usage: tarnsched-signal [--create | --wait SECONDS] [--name NAME] [--times N]\n"
    "       tarnsched-signal --help\n"
    "\n"
    "Asks the running scheduler to reload the data file by signalling the event\n"
    "\"TARNSCHED\" (or NAME), N times (default 1), and says whether a scheduler\n"
    "holds it. The event lives only while a process holds it: with no scheduler\n"
    "running nothing is signalled, unless --create makes the event for as long as\n"
    "this program runs. A scheduler makes the event once its initial pass is over:\n"
    "--wait waits up to SECONDS for one to hold it, then signals.\n"
    "\n"
    "Exit status: 0 signalled; 1 no scheduler holds the event (nothing signalled)\n"
    "or the signal failed; 2 a usage error.\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

// Opens the event, waiting up to `seconds` for a scheduler to make it.
std::unique_ptr<platform::NamedEvent> OpenWaiting(const char* name, long seconds) {
  platform::RealClock clock;
  const int64_t until = clock.NowMs() + seconds * 1000;
  for (;;) {
    if (auto event = platform::NamedEvent::Open(name)) return event;
    if (clock.NowMs() >= until) return nullptr;
    clock.Sleep(100);
  }
}

// Why nothing holds the event: a scheduler in its initial pass has not made
// it yet (its queue is published from the start), or none runs.
std::string NobodyHolds(const char* name) {
  std::string bytes;
  uint32_t pid = 0;
  if (platform::ReadSnapshot(engine::QueuePublicationName(), &bytes, &pid) ==
      platform::SnapshotStatus::kOk) {
    return "a scheduler (process " + std::to_string(pid) + ") is starting: it makes the event \"" +
           name +
           "\" once its initial pass is over; nothing was signalled (--wait SECONDS waits for "
           "it)";
  }
  return std::string("no scheduler is running (nothing holds the event \"") + name +
         "\"): nothing was signalled";
}
}  // namespace

int main(int argc, char** argv) {
  bool create = false;
  const char* name = kReloadEventName;
  long times = 1;  // a burst, as busy editors of the data file send
  long wait_seconds = 0;
  for (int i = 1; i < argc; ++i) {
    if (argc == 2 && (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0)) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--create") == 0) {
      create = true;
    } else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
      name = argv[++i];
    } else if (std::strcmp(argv[i], "--wait") == 0 && i + 1 < argc) {
      char* end = nullptr;
      wait_seconds = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || wait_seconds < 0 || wait_seconds > 86400) return Usage();
    } else if (std::strcmp(argv[i], "--times") == 0 && i + 1 < argc) {
      char* end = nullptr;
      times = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || times < 1 || times > 1000000) return Usage();
    } else {
      return Usage();
    }
  }
  // Only a live holder keeps the event in being, so one that opens has a
  // running scheduler behind it.
  if (create && wait_seconds > 0) return Usage();
  std::unique_ptr<platform::NamedEvent> event = OpenWaiting(name, wait_seconds);
  const bool held = event != nullptr;
  if (!event && create) event = platform::NamedEvent::Create(name);
  if (!event) {
    std::fprintf(stderr, "tarnsched-signal: %s\n", NobodyHolds(name).c_str());
    return 1;
  }
  for (long i = 0; i < times; ++i) {
    if (!event->Set()) {
      std::fprintf(stderr, "tarnsched-signal: cannot signal \"%s\"\n", name);
      return 1;
    }
  }
  if (held) {
    std::printf("tarnsched-signal: signalled \"%s\": the running scheduler will reload\n", name);
  } else {
    std::printf(
        "tarnsched-signal: created and signalled \"%s\": no scheduler is running, the signal "
        "ends with this program\n",
        name);
  }
  return 0;
}
