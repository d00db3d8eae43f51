// The process entry and end. A GUI program: Windows starts it at WinMain (no
// console window); Linux at main, which hands the same function null handles
// and keeps argc/argv for ProgramCommandLine. The process ends with the
// function's result through EndProcess, never by running static destructors
// under threads that still run. Expand
// SCHEDEXE_PROGRAM_ENTRY(fn) once, at namespace scope, in the program's
// entry file, where `fn` is
//   int fn(void* instance, void* previous, char* command_line, int show);
#ifndef SCHEDEXE_PLATFORM_PROGRAM_ENTRY_H_
#define SCHEDEXE_PLATFORM_PROGRAM_ENTRY_H_

#include <string>

namespace platform {

// To be called first thing in the entry, before any thread is started.
// Linux: blocks in this thread (and so in every thread started later) the
// signals that the dispatcher and the foreground wait take synchronously,
// and starts a thread that signals the named event `reload_event_name` for
// every SIGHUP. Windows: nothing.
void PrepareProcessSignals(const char* reload_event_name);

// The program's own command line (see OwnCommandLine in process_info.h),
// from the arguments the process entry was given.
std::string ProgramCommandLine();

// Used by SCHEDEXE_PROGRAM_ENTRY only.
void SetProgramArguments(int argc, char** argv);

// Ends the process with `code` once the entry has returned. The worker and
// engine threads are never joined, so they are stopped first: the static
// objects they use must not be destroyed under them. Standard streams are
// flushed. Windows: ExitProcess (which stops the other threads before any
// clean-up runs); Linux: _exit, after the flush.
[[noreturn]] void EndProcess(int code);

}  // namespace platform

#ifdef _WIN32
// The C runtime calls WinMain by its plain C name; on x86-64 there is one
// calling convention, so the handles can be spelled as void*.
#define SCHEDEXE_PROGRAM_ENTRY(fn)                                                       \
  extern "C" int WinMain(void* instance, void* previous, char* command_line, int show) { \
    ::platform::EndProcess(fn(instance, previous, command_line, show));                  \
  }
#else
#define SCHEDEXE_PROGRAM_ENTRY(fn)                            \
  int main(int argc, char** argv) {                           \
    ::platform::SetProgramArguments(argc, argv);              \
    ::platform::EndProcess(fn(nullptr, nullptr, nullptr, 0)); \
  }
#endif

#endif  // SCHEDEXE_PLATFORM_PROGRAM_ENTRY_H_
