// Snapshots of any data file, and the start-up and reload passes over them,
// keep to the slots: at most one event per slot, in slot order, and the
// passes queue only tasks of slots.
#include <set>
#include <string>

#include "config/schedule_config.h"
#include "config/synchronisation_passes.h"
#include "fuzz_check.h"
#include "schedule/task_number.h"

namespace {

// The live queue as the passes see it: the tasks queued.
struct Queue final : config::LiveQueue {
  void AddEvent(const schedule::ScheduleEvent& event) override {
    FUZZ_CHECK(event.GetSourceFile() == fuzzsupport::TheAgent().data.data_file());
    const int slot = schedule::TaskNumber(event.GetTask());
    FUZZ_CHECK(slot >= 1 && slot <= config::kSlotCount);
    tasks.insert(event.GetTask());
  }
  void RemoveEvent(const std::string& task, bool) override { tasks.erase(task); }
  void WakeScheduler() override {}
  void SetDataFile(std::string) override {}
  std::set<std::string> tasks;
};

void CheckSnapshot(const config::ScheduleConfig& snapshot) {
  int last = 0;
  for (const auto& event : snapshot.GetEvents()) {
    const int slot = schedule::TaskNumber(event->GetTask());
    FUZZ_CHECK(event->GetTask() == std::to_string(slot) && slot > last &&
               slot <= config::kSlotCount);
    last = slot;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzsupport::TheAgent().data.Write(std::string(reinterpret_cast<const char*>(data), size));
  Queue queue;
  config::ScheduleConfig first(&queue);
  CheckSnapshot(first);
  config::InitialPass(first);
  config::ScheduleConfig reload(&queue);
  CheckSnapshot(reload);
  config::ReloadPass(reload);
  return 0;
}
