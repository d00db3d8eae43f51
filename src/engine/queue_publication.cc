#include "engine/queue_publication.h"

#include <charconv>

#include "platform/shared_snapshot.h"

namespace engine {

namespace {

// Task texts and paths come from files: a tab or line break in one would
// split its line, so they travel as blanks.
std::string Field(std::string text) {
  for (char& c : text) {
    if (c == '\t' || c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  while (true) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

template <typename Int>
bool Number(std::string_view text, Int* value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

QueueSnapshot SnapshotOf(const std::vector<EventRef>& queue,
                         const std::map<std::string, platform::TimeValue>& last_fired,
                         const std::string& data_file, platform::TimeValue now) {
  QueueSnapshot snapshot;
  snapshot.published = now;
  snapshot.data_file = data_file;
  snapshot.last_fired = last_fired;
  snapshot.queue.reserve(queue.size());
  for (const EventRef& e : queue) {
    snapshot.queue.push_back({e->GetTask(), e->GetFrequency(), e->GetState(), e->GetNextTime()});
  }
  return snapshot;
}

std::string FormatQueueSnapshot(const QueueSnapshot& s) {
  std::string text =
      "published\t" + std::to_string(s.published) + "\ndatafile\t" + Field(s.data_file) + "\n";
  for (const std::string& fault : s.faults) text += "fault\t" + Field(fault) + "\n";
  for (const PublishedEvent& e : s.queue) {
    text += "event\t" + Field(e.task) + "\t" + std::to_string(e.frequency) + "\t" +
            std::to_string(e.state) + "\t" + std::to_string(e.due) + "\n";
  }
  for (const auto& [task, when] : s.last_fired) {
    text += "last\t" + Field(task) + "\t" + std::to_string(when) + "\n";
  }
  text += "passes\t" + std::to_string(s.passes) + "\n";
  if (s.passing) text += "passing\n";
  return text;
}

bool ParseQueueSnapshot(std::string_view text, QueueSnapshot* s) {
  *s = QueueSnapshot();
  while (!text.empty()) {
    const size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;  // cut short
    const std::vector<std::string_view> f = Split(text.substr(0, end));
    text.remove_prefix(end + 1);
    if (f[0] == "published" && f.size() == 2) {
      if (!Number(f[1], &s->published)) return false;
    } else if (f[0] == "datafile" && f.size() == 2) {
      s->data_file = std::string(f[1]);
    } else if (f[0] == "fault" && f.size() == 2) {
      s->faults.emplace_back(f[1]);
    } else if (f[0] == "event" && f.size() == 5) {
      PublishedEvent e{std::string(f[1])};
      if (!Number(f[2], &e.frequency) || !Number(f[3], &e.state) || !Number(f[4], &e.due)) {
        return false;
      }
      s->queue.push_back(std::move(e));
    } else if (f[0] == "last" && f.size() == 3) {
      if (!Number(f[2], &s->last_fired[std::string(f[1])])) return false;
    } else if (f[0] == "passes" && f.size() == 2) {
      if (!Number(f[1], &s->passes)) return false;
    } else if (f[0] == "passing" && f.size() == 1) {
      s->passing = true;
    } else {
      return false;
    }
  }
  return true;
}

uint32_t EndedPasses(const QueueSnapshot& s) { return s.passes - (s.passing && s.passes > 0); }

std::string QueuePublicationName() { return platform::InstanceObjectName(kQueuePublicationBase); }

}  // namespace engine
