// Stand-in for one of the agent's programs (DmiSetValue, wactivate, kvcmd):
// it records how it was called and succeeds, so the scheduler runs end to end
// without the agent.
#include "agent_journal.h"
#include "platform/process_info.h"

int main(int argc, char** argv) {
  AppendJournalLine(platform::OwnCommandLine(argc, argv));
  return 0;
}
