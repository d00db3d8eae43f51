// What a program of this project knows about itself, and the append-only
// journal write of the agent stand-ins.
#ifndef SCHEDEXE_PLATFORM_PROCESS_INFO_H_
#define SCHEDEXE_PLATFORM_PROCESS_INFO_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// The command line exactly as this process received it: Windows
// GetCommandLineA; Linux the environment variable SCHEDEXE_CMDLINE when it
// splits into this process's own argv (the text our process start passed),
// else argv quoted the Windows way (WindowsCommandLine).
std::string OwnCommandLine(int argc, char** argv);

// Native path of the folder that holds the running executable, no trailing
// separator.
std::string ExecutableDirectory();

// This process's id.
uint32_t CurrentProcessId();

// For a short program whose threads take turns, each waiting while another
// works: from now on its threads run on the processor it runs on now, and
// share one heap. A hand-over then wakes no idle processor, and a helper
// thread builds no heap of its own. Call it before starting any thread.
void KeepThreadsTogether();

// Appends `data` to the file (created when missing) in one write under an
// exclusive lock, so lines of concurrent writers never interleave.
bool AppendExclusive(const std::string& native_path, std::string_view data);

// Environment variable, or "" when unset.
std::string GetEnvironmentVariable(const char* name);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_PROCESS_INFO_H_
