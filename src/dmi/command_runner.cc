#include "dmi/command_runner.h"

#include <cstdio>

#include "dmi/agent_client_directory.h"
#include "dmi/dmi_commands.h"
#include "platform/faults.h"
#include "platform/log.h"
#include "platform/registry_path.h"
#include "platform/thread.h"

namespace dmi {

namespace {

// Whether the line starts the agent's DmiSetValue, whose exit code is read
// for the log and for nothing else.
bool StartsDmiSetValue(const std::string& commandLine) {
  return commandLine.find(std::string(kClientDirectorySuffix) + "DmiSetValue ") !=
         std::string::npos;
}

}  // namespace

int RunCommandAndWait(const std::string& commandLine) {
  platform::ProcessOutcome outcome;
  return RunCommandAndWait(commandLine, &outcome);
}

int RunCommandAndWait(const std::string& commandLine, platform::ProcessOutcome* outcome) {
  using platform::LogLevel;
  platform::LogParts(LogLevel::kDebug, "starting ", commandLine);
  if (!platform::SystemEnv().StartProcessWithOutcome(
          commandLine.c_str(), platform::kNormalPriorityClass, true, outcome)) {
    const std::string reason =
        outcome->error ? platform::OsErrorText(outcome->error) : "unknown reason";
    if (StartsDmiSetValue(commandLine)) {
      platform::SetFault(platform::Fault::kDmiCommand, "cannot start DmiSetValue: " + reason);
    }
    platform::LogParts(LogLevel::kError, "cannot start ", commandLine, ": ", reason);
    return 0;
  }
  if (!StartsDmiSetValue(commandLine)) return 1;
  if (outcome->exit_code_known && outcome->exit_code != 0) {
    platform::SetFault(platform::Fault::kDmiCommand,
                       "DmiSetValue ended with " + OutcomeText(*outcome));
    platform::LogParts(LogLevel::kWarning, commandLine, " ended with exit code ",
                       std::to_string(outcome->exit_code));
  } else {
    platform::ClearFault(platform::Fault::kDmiCommand);
  }
  return 1;
}

int RunAgentCommand(const std::string& commandText) {
  std::string line;
  platform::ProcessOutcome outcome;
  return RunAgentCommand(commandText, &line, &outcome);
}

int RunAgentCommand(const std::string& commandText, std::string* line,
                    platform::ProcessOutcome* outcome) {
  // A paused worker stops between commands, never inside one.
  platform::PausePoint();
  line->clear();
  *outcome = platform::ProcessOutcome();
  if (!ReadAgentClientDirectory(line)) {
    platform::LogParts(platform::LogLevel::kError, "not started (no agent folder from \"",
                       kAgentPathValue, "\" in the registry): ", commandText);
    return 0;
  }
  *line += commandText;
  if (line->size() >= platform::kPathBufferSize) {
    platform::LogParts(platform::LogLevel::kError, "not started (longer than ",
                       std::to_string(platform::kPathBufferSize - 1), " characters): ", *line);
    return 0;
  }
  return RunCommandAndWait(*line, outcome);
}

std::string OutcomeText(const platform::ProcessOutcome& outcome) {
  if (!outcome.exit_code_known) return "exit code unknown";
  if (outcome.signal != 0) return "ended by signal " + std::to_string(outcome.signal);
  std::string text = "exit code " + std::to_string(outcome.exit_code);
  // Exception codes (0xC0000005, an access violation) are known in hex.
  if (outcome.exit_code >= 0xC0000000u) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", outcome.exit_code);
    text += std::string(" (") + hex + ")";
  }
  return text;
}

int SetProfileRowDeleted(int rowNumber) { return RunAgentCommand(ProfileDeleteCommand(rowNumber)); }

}  // namespace dmi
