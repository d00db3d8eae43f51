// The agent editor's half of the data-file protocol on machines without the
// agent's editor: lists the slots, adds, changes and deletes scheduler
// profiles, each one transaction through the running service's own reload,
// and settles what a firing or a restart left. The rules are in profile_editor.h; this program
// serialises editors, waits for the service and says what happened.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "config/data_file_path.h"
#include "config/schedule_config.h"
#include "config/synchronisation_passes.h"
#include "dmi/command_runner.h"
#include "dmi/dmi_setter.h"
#include "engine/event_execution.h"
#include "engine/queue_publication.h"
#include "json_text.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/registry_path.h"
#include "platform/shared_snapshot.h"
#include "profile_check.h"
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
constexpr int64_t kSignalAgainMs = 3000;

constexpr char kUsage[] =
    "usage: schedexe-profile [--timeout SECONDS] COMMAND\n"
    "  add NAME --frequency F [--year Y] [--month M] [--day-of-month D]\n"
    "           [--day-of-week W] [--hour H] [--minute MI]\n"
    "  change NAME FIELD=VALUE...   (Frequency, Year, Month, DayOfMonth, DayOfWeek,\n"
    "                                Hour, Minute)\n"
    "  delete NAME\n"
    "  settle [--wait-for-start]\n"
    "  list [--json]\n"
    "  --help\n"
    "\n"
    "Changes the scheduler profiles of the data file the way the agent's editor\n"
    "does, each command one transaction through the running service's reload:\n"
    "the edit and \"Changed=True\" in one locked write, a reload signal, a wait\n"
    "(at most --timeout seconds, default 120) for the service's pass that reads\n"
    "it, then \"Active\" for what the pass queued, \"Unused\" for a slot it\n"
    "released, \"Changed=False\" and both counts recounted. settle finishes what\n"
    "a firing, a restart or an interrupted edit left; --wait-for-start first\n"
    "waits for a starting service to finish its initial pass. list shows every\n"
    "slot, its profile and what the service does with it now.\n"
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

  // The editor writes only while no pass runs, so no pass reads half of it.
  bool WaitForNoPass(Service* s) {
    return WaitUntil([&] {
      *s = ReadService();
      return !s->live || !s->queue.passing;
    });
  }
  static int Late(const Service& s) {
    return Say(kServiceLate, "a pass of the service did not end in time: " + Seen(s));
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
    Service s;
    if (!WaitForNoPass(&s)) return Late(s);
    std::string error;
    if (!tools::WriteSecondHalf(file_, {}, nullptr, &error)) return Say(kFileFailed, error);
    Mirror({});
    return 0;
  }

  int Transaction(const EditRequest* request) {
    Service s;
    if (!WaitForNoPass(&s)) return Late(s);
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
    // A signal given while a restarting service makes its event anew can be
    // lost with the old object. While the service stays idle, no pass begun
    // since, it is given again: the event holds one signal at most, so one
    // still pending is not doubled.
    Service seen = after;
    int64_t idle_since_ms = NowMs();
    if (!WaitUntil([&] {
          const Service now = ReadService();
          if (now.live != seen.live || now.pid != seen.pid ||
              now.queue.passes != seen.queue.passes || now.queue.passing != seen.queue.passing) {
            idle_since_ms = NowMs();
          }
          seen = now;
          if (!seen.live) return false;
          // A service started since the edit reads it in its first pass.
          const uint32_t wanted = seen.pid == pid ? target : 1;
          if (engine::EndedPasses(seen.queue) >= wanted) return true;
          if (!seen.queue.passing && NowMs() - idle_since_ms >= kSignalAgainMs) {
            if (auto again = platform::NamedEvent::Open(worker::kReloadEventName)) again->Set();
            idle_since_ms = NowMs();
          }
          return false;
        })) {
      return Say(kServiceLate, "the service did not finish the pass that reads the edit (pass " +
                                   std::to_string(target) + ") in time: " + Seen(seen) +
                                   "; the edit is in the data file and settle finishes it");
    }
    // A pass begun since (another program's signal) must not read half of it.
    if (!WaitForNoPass(&seen)) return Late(seen);
    std::set<int> touched;
    if (!tools::WriteSecondHalf(file_, handled, &touched, &error)) {
      return Say(kFileFailed, error);
    }
    Mirror(touched);
    return 0;
  }

  // What the transaction wrote, into the DMI tables, one DmiSetValue each.
  // The edit is done whatever they answer: a row not set is told, not fatal.
  void Mirror(const std::set<int>& slots) {
    config::ScheduleConfig now(nullptr, file_);
    for (const std::string& command : tools::MirrorCommands(now, slots)) SetRow(command);
  }

  // A set that failed for a passing reason (not started, a crash, the store
  // not written) is tried once more; DmiSetValue's other answers would not
  // change.
  static void SetRow(const std::string& command) {
    for (int attempt = 1; attempt <= 2; ++attempt) {
      std::string line;
      platform::ProcessOutcome outcome;
      const bool started = dmi::RunAgentCommand(command, &line, &outcome) != 0;
      if (started && outcome.exit_code_known && outcome.exit_code == 0) return;
      Say(0, "DMI row not set: " + (line.empty() ? command : line) + ": " +
                 (started ? dmi::OutcomeText(outcome) : "not started"));
      if (started && outcome.exit_code_known && outcome.signal == 0 &&
          outcome.exit_code >= dmi::kSetRegistrationFailed && outcome.exit_code < dmi::kSetFailed) {
        return;
      }
    }
  }

  std::string file_;
  int64_t deadline_ms_;
  std::set<std::string> queued_;
};

// One slot as `list` shows it.
struct Slot {
  int slot = 0;
  std::string entry;
  bool in_use = false;
  std::string name;
  config::ScheduleConfig::ProfileValues values{};
  std::string when;  // the values its frequency takes
  bool queued = false;
  std::optional<platform::TimeValue> next;
  std::string service;  // what the service does with it now
};

std::string When(const config::ScheduleConfig::ProfileValues& v) {
  const schedule::ValuesTaken t =
      schedule::ValuesTakenBy(config::ScheduleConfig::ProfileFrequencyCode(v.frequency));
  std::string when;
  auto put = [&](bool taken, const char* key, const std::string& value) {
    if (taken) when += (when.empty() ? "" : " ") + std::string(key) + "=" + value;
  };
  put(t.year, config::kYearKey, std::to_string(v.year));
  put(t.month, config::kMonthKey, v.month);
  put(t.day_of_month, config::kDayOfMonthKey, std::to_string(v.day_of_month));
  put(t.day_of_week, config::kDayOfWeekKey, v.day_of_week);
  put(t.hour, config::kHourKey, std::to_string(v.hour));
  put(t.minute, config::kMinuteKey, std::to_string(v.minute));
  return when;
}

std::vector<Slot> Slots(const config::ScheduleConfig& snapshot, const Service& s) {
  const auto& events = snapshot.GetEvents();
  const size_t visited = config::VisitedEvents(snapshot);
  std::vector<Slot> slots;
  for (int n = 1; n <= config::kSlotCount; ++n) {
    Slot row;
    row.slot = n;
    const std::string task = std::to_string(n);
    row.entry = snapshot.ListEntry(n);
    row.in_use = snapshot.SlotInUse(n);
    row.name = snapshot.ProfileName(task);
    row.values = snapshot.ReadProfileValues(n);
    row.when = When(row.values);
    size_t index = 0;
    while (index < events.size() && events[index]->GetTask() != task) ++index;
    if (!row.in_use) {
      row.service = "free slot";
    } else if (index == events.size()) {
      row.service = "its profile names no frequency: no event";
    } else {
      for (const engine::PublishedEvent& p : s.queue.queue) {
        if (s.live && p.task == task) row.next = p.due;
      }
      row.queued = row.next.has_value();
      const schedule::ScheduleEvent& e = *events[index];
      row.service =
          row.queued ? "queued" : tools::WhyNotQueued(e, index < visited, snapshot.GetCat2Count());
      if (row.service.empty() && !s.live) {
        row.service = "the service is not running; a start queues it";
        const auto firings = schedule::UpcomingFirings(e, 1);
        if (!firings.empty()) row.next = firings[0];
      } else if (row.service.empty()) {
        row.service = s.queue.passing ? "not queued yet: the service's pass is under way"
                                      : "not in the service's queue: settle queues it";
      }
    }
    slots.push_back(std::move(row));
  }
  return slots;
}

int List(const std::string& file, bool json) {
  std::string contents;
  const std::string native = platform::NativePath(file);
  const platform::FileStatus status = platform::ReadFileContents(native, &contents, nullptr);
  if (status != platform::FileStatus::kOk) {
    return Say(kFileFailed, tools::ReadFailureText(native, status));
  }
  const Service s = ReadService();
  config::ScheduleConfig snapshot(nullptr, file);
  const std::vector<Slot> slots = Slots(snapshot, s);
  if (json) {
    using tools::JsonText;
    std::printf("{\"live\": %s, \"passes\": %u, \"data_file\": %s, \"slots\": [",
                s.live ? "true" : "false", s.queue.passes, JsonText(file).c_str());
    const char* separator = "\n";
    for (const Slot& r : slots) {
      const auto& v = r.values;
      std::printf(
          "%s  {\"slot\": %d, \"entry\": %s, \"in_use\": %s, \"name\": %s, "
          "\"frequency\": %s, \"year\": %d, \"month\": %s, \"day_of_month\": %d, "
          "\"day_of_week\": %s, \"hour\": %d, \"minute\": %d, \"state\": %s, "
          "\"queued\": %s, \"next\": %s, \"service\": %s}",
          separator, r.slot, JsonText(r.entry).c_str(), r.in_use ? "true" : "false",
          JsonText(r.name).c_str(), JsonText(v.frequency).c_str(), v.year,
          JsonText(v.month).c_str(), v.day_of_month, JsonText(v.day_of_week).c_str(), v.hour,
          v.minute, JsonText(v.state).c_str(), r.queued ? "true" : "false",
          r.next ? std::to_string(*r.next).c_str() : "null", JsonText(r.service).c_str());
      separator = ",\n";
    }
    std::printf("\n]}\n");
    return 0;
  }
  std::printf("%-4s %-20s %-20s %-9s %-44s %-7s %-19s %s\n", "SLOT", "ENTRY", "NAME", "FREQUENCY",
              "WHEN", "STATE", "NEXT", "SERVICE");
  for (const Slot& r : slots) {
    std::printf("%-4d %-20s %-20s %-9s %-44s %-7s %-19s %s\n", r.slot, r.entry.c_str(),
                r.name.c_str(), r.values.frequency.c_str(), r.when.c_str(), r.values.state.c_str(),
                r.next ? engine::LocalTimeText(*r.next).c_str() : "-", r.service.c_str());
  }
  return 0;
}

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
  bool json = false;
  if (command == "list") {
    json = args.size() == 1 && args[0] == "--json";
    if (args.size() != static_cast<size_t>(json)) return Usage("list takes only --json");
  } else if (command == "settle") {
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
  if (command == "list") return List(file, json);
  Editor editor(file, timeout_s);
  const auto lock = LockEditors(NowMs() + int64_t{timeout_s} * 1000);
  if (!lock) return Say(kServiceLate, "another schedexe-profile kept its transaction too long");
  const int result = editor.Run(command == "settle" ? nullptr : &request, wait_for_start);
  lock->Unlock();
  return result;
}
