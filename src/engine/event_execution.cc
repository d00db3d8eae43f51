#include "engine/event_execution.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "config/schedule_config.h"
#include "dmi/command_runner.h"
#include "engine/scheduler_host.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/working_set.h"

namespace engine {

namespace {
constexpr char kActivationText[] = "wactivate /category:2 /event:";
}  // namespace

int ExecutionThread(EventExecution* execution) {
  execution->host->RunFiredEvent(*execution->event);
  delete execution;
  // Nothing runs again before the next event or reload.
  platform::TrimWhenIdle();
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
  if (!platform::LogEnabled(platform::LogLevel::kNotice)) return LaunchActivation(number);
  // Said before the start too: a wactivate that hangs would hide the firing.
  const std::string text = kActivationText + std::to_string(number);
  platform::LogParts(platform::LogLevel::kNotice, "firing slot ", event.GetTask(), " \"", name,
                     "\" due ", LocalTimeText(event.GetNextTime()), ": ", text);
  std::string line;
  platform::ProcessOutcome outcome;
  platform::Clock& clock = platform::SystemClock();
  const int64_t start_ms = clock.NowMs();
  const bool started = dmi::RunAgentCommand(text, &line, &outcome) != 0;
  char ran[40];
  std::snprintf(ran, sizeof ran, ", ran %.3f s",
                static_cast<double>(clock.NowMs() - start_ms) / 1000);
  platform::LogParts(platform::LogLevel::kNotice, "fired slot ", event.GetTask(), " \"", name,
                     "\": ", line.empty() ? text : line,
                     started ? " " + dmi::OutcomeText(outcome) + ran : " not started");
}

void SchedulerHost::LaunchActivation(int number) {
  dmi::RunAgentCommand(kActivationText + std::to_string(number));
}

}  // namespace engine
