// The journal the agent stand-ins append to, so tests and the demo can see
// every command line the scheduler sent, byte for byte.
#ifndef SCHEDEXE_TOOLS_AGENT_JOURNAL_H_
#define SCHEDEXE_TOOLS_AGENT_JOURNAL_H_

#include <string>

// AGENT_JOURNAL, else agent-journal.log beside the executable.
std::string AgentJournalPath();

// One line: seconds since 1970 with three decimals, a tab, the command line.
std::string JournalLine(double seconds, const std::string& command_line);

// Appends this invocation's line. False when the journal cannot be written.
// With `only_if_kept`, a program that is not only a stand-in writes only a
// journal that was asked for: AGENT_JOURNAL, or a file already there.
bool AppendJournalLine(const std::string& command_line, bool only_if_kept = false);

#endif  // SCHEDEXE_TOOLS_AGENT_JOURNAL_H_
