// The schedule text form loads any file, and what it saves loads back as the
// same records in the same order: the same tasks and frequencies at once,
// and, once saved (the calendar values then in range), the same due times.
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "engine/event_queue.h"
#include "engine/schedule_text_form.h"
#include "engine/scheduler_host.h"
#include "fuzz_check.h"
#include "kvbase/profile_text.h"

namespace {

using kvbase::TrimProfileSpace;
using Record = std::tuple<std::string, int32_t, platform::TimeValue>;

// The host's queue emptied, then filled from the file.
std::vector<Record> Load(engine::SchedulerHost& host, engine::ScheduleTextForm& form) {
  while (host.RemoveEventAt(0)) {
  }
  form.ResetSchedule();
  form.LoadSchedule();
  std::vector<Record> records;
  for (const engine::EventRef& e : host.QueuedEvents()) {
    records.emplace_back(e->GetTask(), e->GetFrequency(), e->GetNextTime());
  }
  FUZZ_CHECK(form.GetRecordCount() == static_cast<int32_t>(records.size()));
  return records;
}

// A task as a read gives it back once saved: blanks around it trimmed (a
// task read up to a NUL may end in one), and a pair of like quotes around it
// dropped (a task cut at the read's buffer, or quoted twice, keeps one).
std::string_view ReadBack(std::string_view task) {
  task = TrimProfileSpace(task);
  if (task.size() > 1 && (task[0] == '"' || task[0] == '\'') && task.back() == task[0]) {
    task = TrimProfileSpace(task.substr(1, task.size() - 2));
  }
  return task;
}

// `then` begins with the records of `first` up to the first whose task reads
// back empty, where a load stops; the first `timed` of them are due at the
// same times. Not so monthly and yearly records: their set-up rolls a day the
// month lacks into the next month, whose day is what gets saved.
void Same(const std::vector<Record>& first, const std::vector<Record>& then, size_t timed) {
  for (size_t i = 0; i < first.size(); ++i) {
    const std::string_view task = ReadBack(std::get<0>(first[i]));
    if (task.empty()) return;
    FUZZ_CHECK(i < then.size());
    FUZZ_CHECK(task == TrimProfileSpace(std::get<0>(then[i])));
    FUZZ_CHECK(std::get<1>(first[i]) == std::get<1>(then[i]));
    const int32_t frequency = std::get<1>(first[i]);
    if (i >= timed || frequency == schedule::Monthly || frequency == schedule::Yearly) continue;
    FUZZ_CHECK(std::get<2>(first[i]) == std::get<2>(then[i]));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzsupport::Agent& agent = fuzzsupport::TheAgent();
  static engine::EventQueue queue;
  static engine::SchedulerHost host(&queue);
  // No dispatcher: nothing fires while time stands still, and a record due
  // in the past must not fire between the load and the save either.
  static const bool stopped = host.Shutdown(10'000);
  FUZZ_CHECK(stopped);
  static engine::ScheduleTextForm form(host);

  agent.data.Write(std::string(reinterpret_cast<const char*>(data), size));
  const std::vector<Record> loaded = Load(host, form);
  for (int32_t i = 0; i < form.GetRecordCount(); ++i) form.NextDescription();
  form.SaveSchedule();
  const std::vector<Record> reloaded = Load(host, form);
  // Sections the first load skipped may follow the ones saved; a record of
  // a section never saved gets its due time only once saved.
  Same(loaded, reloaded, 0);
  form.SaveSchedule();
  Same(reloaded, Load(host, form), loaded.size());
  return 0;
}
