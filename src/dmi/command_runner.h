// Starting the agent's programs: every DMI change is one DmiSetValue process,
// started from the agent client directory and waited for without limit.
#ifndef SCHEDEXE_DMI_COMMAND_RUNNER_H_
#define SCHEDEXE_DMI_COMMAND_RUNNER_H_

#include <string>

namespace dmi {

// Starts the command line and waits until the process ends. Non-zero when it
// started, zero otherwise.
int RunCommandAndWait(const std::string& commandLine);

// Runs "<agent client directory><commandText>" with RunCommandAndWait. Zero,
// and nothing started, when the directory cannot be read or the line would
// not fit its 1024-byte buffer.
int RunAgentCommand(const std::string& commandText);

// Marks the Scheduler Profile Table row (already p+1) "Delete".
int SetProfileRowDeleted(int rowNumber);

}  // namespace dmi

#endif  // SCHEDEXE_DMI_COMMAND_RUNNER_H_
