// What fires when, in the manner of `systemctl list-timers`: one line per
// slot with its next firing, the time left, its last firing, and for a slot
// that is not queued, why not. With the service running it shows the queue
// the service publishes; without one, what a start now would queue, worked
// out by the service's own loader and recurrence. Either way it only reads:
// it writes nothing, starts nothing and sends no DMI command.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "config/data_file_path.h"
#include "config/schedule_config.h"
#include "config/synchronisation_passes.h"
#include "engine/queue_publication.h"
#include "json_text.h"
#include "platform/clock.h"
#include "platform/registry_path.h"
#include "platform/shared_snapshot.h"
#include "profile_check.h"

namespace {

using platform::TimeValue;

constexpr const char* kFrequencyNames[] = {"One Time", "Hourly", "Daily",    "Weekly",
                                           "Monthly",  "Yearly", "Irregular"};
constexpr const char* kStateNames[] = {"-", "Active", "Add", "Delete", "Update"};
constexpr int kMostIterations = 1000;

struct Options {
  bool all = false;
  bool json = false;
  int next = 0;
  std::string name;
};

struct Row {
  std::string task;
  std::string name;
  int32_t frequency = schedule::NotSet;
  int32_t state = schedule::kStateNone;
  bool in_use = true;
  bool queued = false;
  std::vector<TimeValue> firings;  // the first is NEXT
  std::optional<TimeValue> last;
  std::string why_not;
};

struct View {
  bool live = false;
  bool passing = false;  // the live service is in a synchronisation pass
  uint32_t passes = 0;   // passes the live service has begun
  uint32_t pid = 0;
  TimeValue published = 0;
  TimeValue now = 0;
  std::string data_file;
  std::vector<std::string> faults;  // that last in the live service
  std::vector<Row> rows;
};

int Usage(FILE* to, int code) {
  std::fprintf(to,
               "usage: schedexe-timers [--all] [--json] [--next N] [--name NAME]\n"
               "  Lists what the scheduler fires when: the running service's queue, or\n"
               "  without one what a start now would queue.\n"
               "  --all      also list unused slots\n"
               "  --json     one JSON object, for scripts\n"
               "  --next N   each slot's next N firings (1 to %d), drift included\n"
               "  --name     the published queue to read (default: this instance's)\n",
               kMostIterations);
  return code;
}

const char* Word(const char* const* words, size_t count, int32_t code, const char* other) {
  return code >= 0 && static_cast<size_t>(code) < count ? words[code] : other;
}
const char* FrequencyName(int32_t f) { return Word(kFrequencyNames, 7, f, "-"); }
const char* StateName(int32_t s) { return Word(kStateNames, 5, s, "?"); }

std::string Local(TimeValue t) {
  std::tm tm;
  char text[96];
  if (!platform::SystemClock().LocalTime(t, &tm) ||
      std::strftime(text, sizeof(text), "%a %Y-%m-%d %H:%M:%S", &tm) == 0) {
    return std::to_string(t);
  }
  return text;
}

std::string Span(int64_t seconds) {
  if (seconds < 0) return "passed";
  const int64_t days = seconds / 86400, hours = seconds / 3600 % 24, minutes = seconds / 60 % 60;
  char text[64];
  if (days > 0) {
    std::snprintf(text, sizeof(text), "%lld day%s %lldh", static_cast<long long>(days),
                  days == 1 ? "" : "s", static_cast<long long>(hours));
  } else if (hours > 0) {
    std::snprintf(text, sizeof(text), "%lldh %lldmin", static_cast<long long>(hours),
                  static_cast<long long>(minutes));
  } else if (minutes > 0) {
    std::snprintf(text, sizeof(text), "%lldmin %llds", static_cast<long long>(minutes),
                  static_cast<long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof(text), "%llds", static_cast<long long>(seconds));
  }
  return text;
}

// Slots as the data file describes them, with what a start would queue.
// Reads only: the snapshot's constructor writes nothing.
void AddSlots(View* view, bool live, int firings) {
  config::ScheduleConfig snapshot(nullptr);
  if (view->data_file.empty()) view->data_file = snapshot.GetDataFile();
  const auto& events = snapshot.GetEvents();
  const size_t visited = config::VisitedEvents(snapshot);
  for (int slot = 1; slot <= config::kSlotCount; ++slot) {
    Row row;
    row.task = std::to_string(slot);
    row.in_use = snapshot.SlotInUse(slot);
    row.name = snapshot.ProfileName(row.task);
    const auto it = std::find_if(events.begin(), events.end(),
                                 [&](const auto& e) { return e->GetTask() == row.task; });
    if (!row.in_use) {
      row.why_not = "unused slot";
    } else if (it == events.end()) {
      row.why_not = "its profile names no known frequency";
    } else {
      const schedule::ScheduleEvent& e = **it;
      row.frequency = e.GetFrequency();
      row.state = e.GetState();
      const bool visits = static_cast<size_t>(it - events.begin()) < visited;
      row.why_not = tools::WhyNotQueued(e, visits, snapshot.GetCat2Count());
      if (live && row.why_not.empty()) {
        // The published queue, laid over this, shows it if it is queued.
        row.why_not = view->passing ? "not queued yet: the service's pass is under way"
                                    : "not in the service's queue (a reload queues it once the "
                                      "list is marked changed)";
      } else if (row.why_not.empty()) {
        row.queued = true;
        row.firings = schedule::UpcomingFirings(e, firings);
      }
    }
    view->rows.push_back(std::move(row));
  }
}

// The published queue laid over the slots: a queued task is shown as the
// service holds it.
void ApplyLive(View* view, const engine::QueueSnapshot& live, int firings) {
  for (const engine::PublishedEvent& p : live.queue) {
    auto it = std::find_if(view->rows.begin(), view->rows.end(),
                           [&](const Row& r) { return r.task == p.task; });
    if (it == view->rows.end()) {
      Row row;
      row.task = p.task;
      view->rows.push_back(std::move(row));
      it = view->rows.end() - 1;
    }
    schedule::ScheduleEvent e;
    e.SetSchedule(p.task, -1, -1, -1, -1, -1, -1, p.frequency);
    e.SetNextTime(p.due);
    it->in_use = true;
    it->queued = true;
    it->why_not.clear();
    it->frequency = p.frequency;
    it->state = p.state;
    it->firings = schedule::UpcomingFirings(e, firings);
  }
  for (Row& row : view->rows) {
    const auto last = live.last_fired.find(row.task);
    if (last != live.last_fired.end()) row.last = last->second;
  }
}

std::string Instant(std::optional<TimeValue> t) {
  if (!t) return "null";
  return "{\"epoch\": " + std::to_string(*t) + ", \"local\": " + tools::JsonText(Local(*t)) + "}";
}

std::optional<TimeValue> Next(const Row& row) {
  if (row.firings.empty()) return std::nullopt;
  return row.firings.front();
}

void PrintJson(const View& v, const Options& o) {
  std::printf(
      "{\"live\": %s, \"publisher_pid\": %u, \"published\": %s, \"passing\": %s, "
      "\"passes\": %u, \"now\": %s,\n",
      v.live ? "true" : "false", v.pid, v.live ? Instant(v.published).c_str() : "null",
      v.passing ? "true" : "false", v.passes, Instant(v.now).c_str());
  std::printf(" \"data_file\": %s, \"faults\": [", tools::JsonText(v.data_file).c_str());
  for (size_t i = 0; i < v.faults.size(); ++i) {
    std::printf("%s%s", i ? ", " : "", tools::JsonText(v.faults[i]).c_str());
  }
  std::printf("], \"timers\": [");
  const char* separator = "\n";
  for (const Row& r : v.rows) {
    const auto next = Next(r);
    std::string left = next ? std::to_string(int64_t{*next} - v.now) : "null";
    std::printf(
        "%s  {\"slot\": %s, \"name\": %s, \"frequency\": %s, \"state\": %s, "
        "\"queued\": %s, \"next\": %s, \"left_seconds\": %s, \"last\": %s, "
        "\"why_not\": %s",
        separator, tools::JsonText(r.task).c_str(), tools::JsonText(r.name).c_str(),
        tools::JsonText(FrequencyName(r.frequency)).c_str(),
        tools::JsonText(StateName(r.state)).c_str(), r.queued ? "true" : "false",
        Instant(next).c_str(), left.c_str(), Instant(r.last).c_str(),
        r.queued ? "null" : tools::JsonText(r.why_not).c_str());
    if (o.next > 0) {
      std::printf(", \"firings\": [");
      for (size_t i = 0; i < r.firings.size(); ++i) {
        std::printf("%s%s", i ? ", " : "", Instant(r.firings[i]).c_str());
      }
      std::printf("]");
    }
    std::printf("}");
    separator = ",\n";
  }
  std::printf("\n]}\n");
}

void PrintTable(const View& v, const Options& o) {
  if (v.live) {
    std::printf("schedExe is running (process %u); its queue as published %s%s.\n", v.pid,
                Local(v.published).c_str(), v.passing ? ", during a synchronisation pass" : "");
  } else {
    std::printf("schedExe is not running: what a start now would queue.\n");
  }
  for (const std::string& fault : v.faults) std::printf("FAULT: %s\n", fault.c_str());
  std::printf("%-24s %-14s %-24s %-4s %-20s %-9s %-6s %s\n", "NEXT", "LEFT", "LAST", "SLOT", "NAME",
              "FREQUENCY", "STATE", "WHY NOT QUEUED");
  int queued = 0;
  for (const Row& r : v.rows) {
    const auto next = Next(r);
    queued += r.queued;
    std::printf("%-24s %-14s %-24s %-4s %-20s %-9s %-6s %s\n", next ? Local(*next).c_str() : "-",
                next ? Span(int64_t{*next} - v.now).c_str() : "-",
                r.last ? Local(*r.last).c_str() : "-", r.task.c_str(), r.name.c_str(),
                FrequencyName(r.frequency), StateName(r.state), r.why_not.c_str());
  }
  std::printf("\n%zu slots listed, %d queued.%s\n", v.rows.size(), queued,
              o.all ? "" : " Pass --all to see unused slots.");
  if (o.next <= 0) return;
  for (const Row& r : v.rows) {
    if (r.firings.empty()) continue;
    std::printf("\nSlot %s (%s), %s:\n", r.task.c_str(), r.name.c_str(),
                FrequencyName(r.frequency));
    for (size_t i = 0; i < r.firings.size(); ++i) {
      std::printf("  %s #%zu: %s (epoch %d)\n", i == 0 ? "Next elapse" : "     Iter.", i + 1,
                  Local(r.firings[i]).c_str(), r.firings[i]);
    }
  }
}

bool ParseOptions(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--all") == 0) {
      o->all = true;
    } else if (std::strcmp(argv[i], "--json") == 0) {
      o->json = true;
    } else if (std::strcmp(argv[i], "--next") == 0 && i + 1 < argc) {
      char* end = nullptr;
      const long n = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || n < 1 || n > kMostIterations) return false;
      o->next = static_cast<int>(n);
    } else if (std::strcmp(argv[i], "--name") == 0 && i + 1 < argc) {
      o->name = argv[++i];
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    return Usage(stdout, 0);
  }
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage(stderr, 2);
  if (options.name.empty()) options.name = engine::QueuePublicationName();

  View view;
  view.now = platform::SystemClock().Now();
  engine::QueueSnapshot live;
  std::string bytes;
  const platform::SnapshotStatus status = platform::ReadSnapshot(options.name, &bytes, &view.pid);
  if (status == platform::SnapshotStatus::kOk && engine::ParseQueueSnapshot(bytes, &live)) {
    view.live = true;
    view.published = live.published;
    view.data_file = live.data_file;
    view.passing = live.passing;
    view.passes = live.passes;
    view.faults = live.faults;
  } else if (status != platform::SnapshotStatus::kAbsent) {
    std::fprintf(stderr, "schedexe-timers: the published queue cannot be read; not shown\n");
  }

  // The loader waits while the registry value cannot be read; a view must
  // not, so it looks once first.
  std::string path;
  const bool readable =
      platform::ReadRegistryPath(config::kDataDirectoryKey, config::kDataDirectoryValue,
                                 config::kDataFileSuffix,
                                 &path) != platform::RegistryStatus::kUnreadable;
  const int firings = std::max(options.next, 1);
  if (readable) {
    AddSlots(&view, view.live, firings);
  } else if (!view.live) {
    std::fprintf(stderr,
                 "schedexe-timers: the data file's location cannot be read from the registry\n");
    return 1;
  }
  if (view.live) ApplyLive(&view, live, firings);
  if (!options.all) {
    std::erase_if(view.rows, [](const Row& r) { return !r.in_use; });
  }
  // Soonest first, as list-timers orders them; what is not queued after.
  std::stable_sort(view.rows.begin(), view.rows.end(), [](const Row& a, const Row& b) {
    const auto na = Next(a), nb = Next(b);
    if (na && nb) return *na < *nb;
    return na.has_value() && !nb.has_value();
  });
  if (options.json) {
    PrintJson(view, options);
  } else {
    PrintTable(view, options);
  }
  return 0;
}
