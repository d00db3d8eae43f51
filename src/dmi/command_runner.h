// Starting the agent's programs: every DMI change is one DmiSetValue process,
// started from the agent client directory and waited for without limit.
#ifndef SCHEDEXE_DMI_COMMAND_RUNNER_H_
#define SCHEDEXE_DMI_COMMAND_RUNNER_H_

#include <string>

#include "platform/env.h"

namespace dmi {

// Starts the command line and waits until the process ends. Non-zero when it
// started, zero otherwise.
int RunCommandAndWait(const std::string& commandLine);
// The same, telling in *outcome what became of the process (for the log).
int RunCommandAndWait(const std::string& commandLine, platform::ProcessOutcome* outcome);

// Runs "<agent client directory><commandText>" with RunCommandAndWait. Zero,
// and nothing started, when the directory cannot be read or the line would
// not fit its 1024-byte buffer.
int RunAgentCommand(const std::string& commandText);
// The same, with the command line run and what became of it.
int RunAgentCommand(const std::string& commandText, std::string* line,
                    platform::ProcessOutcome* outcome);

// How a waited-for process ended, for the log: "exit code 2", a Windows
// exception's code also in hexadecimal ("exit code 3221225477 (0xC0000005)"),
// "ended by signal 11", or "exit code unknown".
std::string OutcomeText(const platform::ProcessOutcome& outcome);

// Marks the Scheduler Profile Table row (already p+1) "Delete".
int SetProfileRowDeleted(int rowNumber);

}  // namespace dmi

#endif  // SCHEDEXE_DMI_COMMAND_RUNNER_H_
