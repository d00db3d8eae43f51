#include "engine/event_execution.h"

#include <string>

#include "config/schedule_config.h"
#include "dmi/command_runner.h"
#include "engine/scheduler_host.h"

namespace engine {

namespace {
constexpr char kActivationText[] = "wactivate /category:2 /event:";
}  // namespace

int ExecutionThread(EventExecution* execution) {
  execution->host->RunFiredEvent(*execution->event);
  delete execution;
  return 1;
}

void SchedulerHost::RunFiredEvent(const schedule::ScheduleEvent& event) {
  config::ScheduleConfig config(this);
  config.MarkCat2Fired(event);
  // The slot of the profile's user event, found as MarkCat2Fired finds it.
  LaunchActivation(config.FindCat2Number(config.ProfileName(event.GetTask())));
}

void SchedulerHost::LaunchActivation(int number) {
  dmi::RunAgentCommand(kActivationText + std::to_string(number));
}

}  // namespace engine
