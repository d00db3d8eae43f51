#include "platform/program_entry.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/process_info.h"

namespace platform {

// Windows delivers no signals to take and keeps the command line itself.
void PrepareProcessSignals(const char*) {}

void SetProgramArguments(int, char**) {}

std::string ProgramCommandLine() { return OwnCommandLine(0, nullptr); }

void EndProcess(int code) {
  std::fflush(nullptr);
  ExitProcess(static_cast<UINT>(code));
}

}  // namespace platform
