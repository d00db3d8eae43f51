// A snapshot of any data file, and the start-up and reload passes over it,
// stay in bounds: at most one event per slot, in slot order, and the passes
// queue only events of the snapshot.
#include <set>
#include <string>

#define SCHEDEXE_FUZZ_AGENT
#include "config/schedule_config.h"
#include "config/synchronisation_passes.h"
#include "fuzz_check.h"
#include "schedule/task_number.h"

namespace {

// The live queue as the passes see it, keeping only the tasks queued.
class Queue final : public config::LiveQueue {
 public:
  void AddEvent(const schedule::ScheduleEvent& event) override {
    FUZZ_CHECK(event.GetSourceFile() == data_file);
    tasks.insert(event.GetTask());
  }
  void RemoveEvent(const std::string& task, bool) override { tasks.erase(task); }
  void WakeScheduler() override {}
  void SetDataFile(std::string path) override { FUZZ_CHECK(path == data_file); }

  std::string data_file;
  std::set<std::string> tasks;
};

void CheckSnapshot(const config::ScheduleConfig& snapshot) {
  int last = 0;
  for (const auto& event : snapshot.GetEvents()) {
    const int slot = schedule::TaskNumber(event->GetTask());
    FUZZ_CHECK(event->GetTask() == std::to_string(slot));
    FUZZ_CHECK(slot > last && slot <= config::kSlotCount);
    last = slot;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static fuzzsupport::Agent& agent = fuzzsupport::TheAgent();
  agent.data.Write(std::string(reinterpret_cast<const char*>(data), size));
  Queue queue;
  queue.data_file = agent.data.data_file();
  {
    config::ScheduleConfig snapshot(&queue);
    CheckSnapshot(snapshot);
    config::InitialPass(snapshot);
    FUZZ_CHECK(queue.tasks.size() <= snapshot.GetEvents().size());
  }
  config::ScheduleConfig snapshot(&queue);
  CheckSnapshot(snapshot);
  config::ReloadPass(snapshot);
  for (const std::string& task : queue.tasks) {
    const int slot = schedule::TaskNumber(task);
    FUZZ_CHECK(slot >= 1 && slot <= config::kSlotCount);
  }
  return 0;
}
