#include "dmi/command_runner.h"

#include "dmi/agent_client_directory.h"
#include "dmi/dmi_commands.h"
#include "platform/env.h"
#include "platform/registry_path.h"
#include "platform/thread.h"

namespace dmi {

int RunCommandAndWait(const std::string& commandLine) {
  return platform::SystemEnv().StartProcess(commandLine.c_str(), platform::kNormalPriorityClass,
                                            true)
             ? 1
             : 0;
}

int RunAgentCommand(const std::string& commandText) {
  // A paused worker stops between commands, never inside one.
  platform::PausePoint();
  std::string line;
  if (!ReadAgentClientDirectory(&line)) return 0;
  line += commandText;
  if (line.size() >= platform::kPathBufferSize) return 0;
  return RunCommandAndWait(line);
}

int SetProfileRowDeleted(int rowNumber) { return RunAgentCommand(ProfileDeleteCommand(rowNumber)); }

}  // namespace dmi
