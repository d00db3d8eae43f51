// The agent editor's half of the data-file protocol on machines without the
// agent's editor: adds, changes and deletes scheduler profiles, each one
// transaction through the running service's own reload, and settles what a
// firing or a restart left. The rules are in profile_editor.h; this program
// serialises editors, waits for the service and says what happened.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/data_file_path.h"
#include "config/schedule_config.h"
#include "engine/queue_publication.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/registry_path.h"
#include "platform/shared_snapshot.h"
#include "profile_editor.h"
#include "worker/scheduler_worker.h"

namespace {

using tools::EditKind;
using tools::EditRequest;

constexpr int kRefused = 2;
constexpr int kFileFailed = 1;
constexpr int kServiceLate = 3;
constexpr int kDefaultTimeoutSeconds = 120;
constexpr uint32_t kPollMs = 50;

constexpr char kUsage[] =
    "usage: schedexe-profile [--timeout SECONDS] COMMAND\n"
    "  add NAME --frequency F [--year Y] [--month M] [--day-of-month D]\n"
    "           [--day-of-week W] [--hour H] [--minute MI]\n"
    "  change NAME FIELD=VALUE...   (Frequency, Year, Month, DayOfMonth, DayOfWeek,\n"
    "                                Hour, Minute)\n"
    "  delete NAME\n"
    "  settle [--wait-for-start]\n"
    "  --help\n"
    "\n"
    "Changes the scheduler profiles of the data file the way the agent's editor\n"
    "does, each command one transaction through the running service's reload:\n"
    "the edit and \"Changed=True\" in one locked write, a reload signal, a wait\n"
    "(at most --timeout seconds, default 120) for the service's pass that reads\n"
    "it, then \"Active\" for what the pass queued, \"Unused\" for a slot it\n"
    "released, \"Changed=False\" and both counts recounted. settle finishes what\n"
    "a firing, a restart or an interrupted edit left; --wait-for-start first\n"
    "waits for a starting service to finish its initial pass.\n"
    "\n"
    "Exit status: 0 done; 1 the data file cannot be read or written; 2 a usage\n"
    "error or a refused edit (the file is unchanged); 3 the service did not\n"
    "finish its pass in time (the edit is in the file; settle finishes it).\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "schedexe-profile: %s\n%s", problem.c_str(), kUsage);
  return kRefused;
}

int Say(int code, const std::string& text) {
  std::fprintf(stderr, "schedexe-profile: %s\n", text.c_str());
  return code;
}

int64_t NowMs() { return platform::SystemClock().NowMs(); }

// The running service as its queue publication shows it.
struct Service {
  bool live = false;
  uint32_t pid = 0;
  engine::QueueSnapshot queue;
};

Service ReadService() {
  Service s;
  std::string bytes;
  s.live = platform::ReadSnapshot(engine::QueuePublicationName(), &bytes, &s.pid) ==
               platform::SnapshotStatus::kOk &&
           engine::ParseQueueSnapshot(bytes, &s.queue);
  return s;
}

std::string Seen(const Service& s) {
  if (!s.live) return "no service is running";
  return "the service (process " + std::to_string(s.pid) + ") had begun " +
         std::to_string(s.queue.passes) + " passes and ended " +
         std::to_string(engine::EndedPasses(s.queue)) + (s.queue.passing ? ", one under way" : "");
}

class Editor {
 public:
  Editor(std::string file, int timeout_s)
      : file_(std::move(file)), deadline_ms_(NowMs() + int64_t{timeout_s} * 1000) {}

  // One transaction: settles first when the file needs a pass, then the
  // edit of `request` (none: settle only).
  int Run(const EditRequest* request, bool wait_for_start) {
    if (wait_for_start) {
      Service s;
      if (!WaitUntil([&] {
            s = ReadService();
            return s.live && engine::EndedPasses(s.queue) >= 1;
          })) {
        return Say(kServiceLate, "the service did not finish its start in time: " + Seen(s));
      }
    }
    const bool pending = NeedsPass();
    if (pending || !request) {
      const int settled = pending ? Transaction(nullptr) : Tidy();
      if (settled != 0 || !request) return settled;
    }
    return Transaction(request);
  }

 private:
  // Waits, polling, until `done` or the deadline; false at the deadline.
  template <typename Done>
  bool WaitUntil(Done done) {
    while (!done()) {
      if (NowMs() >= deadline_ms_) return false;
      platform::SystemClock().Sleep(kPollMs);
    }
    return true;
  }

  // The tasks the running service holds; null while unknown.
  const std::set<std::string>* Queued(const Service& s) {
    queued_.clear();
    if (!s.live || s.queue.passing) return nullptr;
    for (const engine::PublishedEvent& e : s.queue.queue) queued_.insert(e.task);
    return &queued_;
  }

  bool NeedsPass() {
    const Service s = ReadService();
    config::ScheduleConfig snapshot(nullptr, file_);
    return tools::NeedsPass(snapshot, Queued(s));
  }

  // Nothing for a pass: only the counts and the change mark.
  int Tidy() {
    std::string error;
    if (!tools::WriteSecondHalf(file_, {}, &error)) return Say(kFileFailed, error);
    return 0;
  }

  int Transaction(const EditRequest* request) {
    // The editor writes only while no pass runs, so no pass reads half of it.
    Service s;
    if (!WaitUntil([&] {
          s = ReadService();
          return !s.live || !s.queue.passing;
        })) {
      return Say(kServiceLate, "a pass of the service did not end in time: " + Seen(s));
    }
    std::optional<tools::Refusal> refusal;
    std::string error;
    if (!tools::WriteFirstHalf(file_, request, Queued(s), &refusal, &error)) {
      return Say(kFileFailed, error);
    }
    if (refusal) return Say(kRefused, "refused: " + refusal->field + ": " + refusal->rule);
    // A pass begun after this point reads the edit.
    const Service after = ReadService();
    config::ScheduleConfig written(nullptr, file_);
    const std::map<int, tools::Handled> handled = tools::HandledByPass(written);
    if (!after.live) {
      return Say(kServiceLate,
                 "no service is running: the edit is in the data file, marked "
                 "\"Changed=True\"; the service's start acts on it, and `schedexe-profile "
                 "settle` after the start finishes it");
    }
    const uint32_t pid = after.pid;
    const uint32_t target = after.queue.passes + 1;
    std::unique_ptr<platform::NamedEvent> event;
    // Until its initial pass has ended the service has no reload event.
    if (!WaitUntil([&] {
          event = platform::NamedEvent::Open(worker::kReloadEventName);
          return event != nullptr;
        }) ||
        !event->Set()) {
      return Say(kServiceLate, std::string("cannot signal \"") + worker::kReloadEventName +
                                   "\": " + Seen(ReadService()) +
                                   "; the edit is in the data file and settle finishes it");
    }
    std::fprintf(stderr, "schedexe-profile: waiting for the service's reload (at most %lld s)\n",
                 static_cast<long long>((deadline_ms_ - NowMs() + 999) / 1000));
    Service seen;
    if (!WaitUntil([&] {
          seen = ReadService();
          if (!seen.live) return false;
          // A service started since the edit reads it in its first pass.
          const uint32_t wanted = seen.pid == pid ? target : 1;
          return engine::EndedPasses(seen.queue) >= wanted;
        })) {
      return Say(kServiceLate, "the service did not finish the pass that reads the edit (pass " +
                                   std::to_string(target) + ") in time: " + Seen(seen) +
                                   "; the edit is in the data file and settle finishes it");
    }
    if (!tools::WriteSecondHalf(file_, handled, &error)) return Say(kFileFailed, error);
    return 0;
  }

  std::string file_;
  int64_t deadline_ms_;
  std::set<std::string> queued_;
};

// Editors of one agent, one at a time: the second waits for the first's
// whole transaction.
std::unique_ptr<platform::NamedMutex> LockEditors(int64_t deadline_ms) {
  auto mutex = platform::NamedMutex::Create(platform::InstanceObjectName("editor").c_str());
  if (!mutex) return nullptr;
  while (!mutex->TryLock()) {
    if (NowMs() >= deadline_ms) return nullptr;
    platform::SystemClock().Sleep(kPollMs);
  }
  return mutex;
}

struct Flag {
  const char* option;
  const char* key;
};
constexpr Flag kAddFlags[] = {
    {"--frequency", config::kFrequencyKey},   {"--year", config::kYearKey},
    {"--month", config::kMonthKey},           {"--day-of-month", config::kDayOfMonthKey},
    {"--day-of-week", config::kDayOfWeekKey}, {"--hour", config::kHourKey},
    {"--minute", config::kMinuteKey}};

// The request of add, change or delete from its arguments; "" or the usage
// problem.
std::string ParseRequest(const std::string& command, const std::vector<std::string>& args,
                         EditRequest* request) {
  if (args.empty()) return command + " takes a NAME";
  request->name = args[0];
  if (command == "delete") {
    request->kind = EditKind::kDelete;
    return args.size() == 1 ? "" : "delete takes only a NAME";
  }
  if (command == "add") {
    request->kind = EditKind::kAdd;
    for (size_t i = 1; i < args.size(); i += 2) {
      const Flag* flag = nullptr;
      for (const Flag& f : kAddFlags) {
        if (args[i] == f.option) flag = &f;
      }
      if (!flag || i + 1 >= args.size()) return "add: " + args[i] + " is no option with a value";
      request->fields[flag->key] = args[i + 1];
    }
    return "";
  }
  request->kind = EditKind::kChange;
  for (size_t i = 1; i < args.size(); ++i) {
    const size_t eq = args[i].find('=');
    const std::optional<std::string> key =
        eq == std::string::npos ? std::nullopt : tools::ProfileFieldKey(args[i].substr(0, eq));
    if (!key) return "change: " + args[i] + " is no FIELD=VALUE of a profile field";
    request->fields[*key] = args[i].substr(eq + 1);
  }
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  int timeout_s = kDefaultTimeoutSeconds;
  if (args.size() >= 2 && args[0] == "--timeout") {
    char* end = nullptr;
    const long t = std::strtol(args[1].c_str(), &end, 10);
    if (args[1].empty() || *end || t < 0 || t > 86400) {
      return Usage("--timeout takes seconds, 0 to 86400");
    }
    timeout_s = static_cast<int>(t);
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) return Usage("no command");
  const std::string command = args[0];
  args.erase(args.begin());
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  EditRequest request;
  bool wait_for_start = false;
  if (command == "settle") {
    wait_for_start = args.size() == 1 && args[0] == "--wait-for-start";
    if (args.size() != static_cast<size_t>(wait_for_start)) {
      return Usage("settle takes only --wait-for-start");
    }
  } else if (command == "add" || command == "change" || command == "delete") {
    const std::string problem = ParseRequest(command, args, &request);
    if (!problem.empty()) return Usage(problem);
  } else {
    return Usage("unknown command \"" + command + "\"");
  }

  std::string file;
  if (platform::ReadRegistryPath(config::kDataDirectoryKey, config::kDataDirectoryValue,
                                 config::kDataFileSuffix, &file) != platform::RegistryStatus::kOk) {
    return Say(kFileFailed, "the data file's location cannot be read from the registry");
  }
  Editor editor(file, timeout_s);
  const auto lock = LockEditors(NowMs() + int64_t{timeout_s} * 1000);
  if (!lock) return Say(kServiceLate, "another schedexe-profile kept its transaction too long");
  const int result = editor.Run(command == "settle" ? nullptr : &request, wait_for_start);
  lock->Unlock();
  return result;
}
