#include "engine/event_execution.h"

#include <ctime>
#include <string>

#include "config/schedule_config.h"
#include "dmi/command_runner.h"
#include "engine/scheduler_host.h"
#include "platform/clock.h"
#include "platform/log.h"

namespace engine {

namespace {
constexpr char kActivationText[] = "wactivate /category:2 /event:";
}  // namespace

int ExecutionThread(EventExecution* execution) {
  execution->host->RunFiredEvent(*execution->event);
  delete execution;
  return 1;
}

std::string LocalTimeText(schedule::TimeValue t) {
  std::tm local{};
  char text[32];
  if (!platform::SystemClock().LocalTime(t, &local) ||
      std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) == 0) {
    return std::to_string(t);
  }
  return text;
}

void SchedulerHost::RunFiredEvent(const schedule::ScheduleEvent& event) {
  config::ScheduleConfig config(this);
  config.MarkCat2Fired(event);
  // The slot of the profile's user event, found as MarkCat2Fired finds it.
  const std::string name = config.ProfileName(event.GetTask());
  const int number = config.FindCat2Number(name);
  if (!platform::LogEnabled(platform::LogLevel::kInfo)) return LaunchActivation(number);
  // Said before the start too: a wactivate that hangs would hide the firing.
  const std::string text = kActivationText + std::to_string(number);
  platform::LogParts(platform::LogLevel::kInfo, "firing slot ", event.GetTask(), " \"", name,
                     "\" due ", LocalTimeText(event.GetNextTime()), ": ", text);
  std::string line;
  platform::ProcessOutcome outcome;
  const bool started = dmi::RunAgentCommand(text, &line, &outcome) != 0;
  platform::LogParts(platform::LogLevel::kInfo, "fired slot ", event.GetTask(), " \"", name,
                     "\": ", line.empty() ? text : line,
                     !started                  ? " not started"
                     : outcome.exit_code_known ? " exit code " + std::to_string(outcome.exit_code)
                                               : "");
}

void SchedulerHost::LaunchActivation(int number) {
  dmi::RunAgentCommand(kActivationText + std::to_string(number));
}

}  // namespace engine
