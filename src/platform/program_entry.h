// The process entry of a GUI program: Windows starts it at WinMain (no
// console window); Linux at main, which hands the same function null handles
// and keeps argc/argv for ProgramCommandLine. The process ends with the
// function's result through EndProcess, never by running static destructors
// under threads that still run. Expand
// SCHEDEXE_PROGRAM_ENTRY(fn) once, at namespace scope, in the program's
// entry file, where `fn` is
//   int fn(void* instance, void* previous, char* command_line, int show);
#ifndef SCHEDEXE_PLATFORM_PROGRAM_ENTRY_H_
#define SCHEDEXE_PLATFORM_PROGRAM_ENTRY_H_

#include "platform/service_host.h"

#ifdef _WIN32
// The C runtime calls WinMain by its plain C name; on x86-64 there is one
// calling convention, so the handles can be spelled as void*.
#define SCHEDEXE_PROGRAM_ENTRY(fn)                                         \
  extern "C" int WinMain(void* instance, void* previous, char* command_line, \
                         int show) {                                        \
    ::platform::EndProcess(fn(instance, previous, command_line, show));     \
  }
#else
#define SCHEDEXE_PROGRAM_ENTRY(fn)          \
  int main(int argc, char** argv) {         \
    ::platform::SetProgramArguments(argc, argv); \
    ::platform::EndProcess(fn(nullptr, nullptr, nullptr, 0)); \
  }
#endif

#endif  // SCHEDEXE_PLATFORM_PROGRAM_ENTRY_H_
