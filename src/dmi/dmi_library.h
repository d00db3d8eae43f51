// The DMI 2.0 Win32 management libraries: loaded once for the process, with
// the objects the in-process attribute setter needs, and their entry points.
// Nothing is ever unloaded or destroyed; the scheduler's own DMI updates do
// not depend on any of it.
#ifndef SCHEDEXE_DMI_DMI_LIBRARY_H_
#define SCHEDEXE_DMI_DMI_LIBRARY_H_

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/dynamic_library.h"
#include "platform/event.h"

namespace dmi {

// The library the worker asks for, and the registration library, which is
// always loaded by this fixed name.
inline constexpr char kInvokeLibraryName[] = "dmiapi32.dll";
inline constexpr char kRegistrationLibraryName[] = "WDMI2API.DLL";

// Component ids index the language table; ids from here on have no entry.
inline constexpr int kLanguageTableSize = 4096;

// Process-wide state, all empty until LoadDmiLibrary has run.
struct DmiLibraryState {
  bool initialised = false;
  bool entryPointsFound = false;
  platform::LibraryHandle invokeLibrary = nullptr;
  platform::LibraryHandle registrationLibrary = nullptr;
  // One management command outstanding at a time.
  std::unique_ptr<std::mutex> invokeMutex;
  // Registration and the component cache; also guards languageTable.
  std::unique_ptr<std::mutex> registrationMutex;
  // Auto-reset, signalled by the confirm callback when a command completes.
  // Its waits run on the system clock, virtual under test.
  std::unique_ptr<platform::Event> confirmEvent;
  // The language string of each component seen (a process sees one or
  // two); a component without an entry reads "".
  std::map<int, std::string> languageTable;
  // Entry points, null until found. DmiInvoke and DmiIndicate come from
  // invokeLibrary, the other three from registrationLibrary.
  void* DmiInvoke = nullptr;
  void* DmiIndicate = nullptr;
  void* DmiListLanguages = nullptr;
  void* DmiRegister = nullptr;
  void* DmiUnregister = nullptr;
};

// The one state of the process.
DmiLibraryState& DmiLibrary();

// Loads `name` and the registration library, clears the language table and
// creates the mutexes and the confirm event, once: later calls return the
// first call's handle at once, whatever the name. Null when `name` did not
// load (the rest is set up all the same).
platform::LibraryHandle LoadDmiLibrary(const char* name);

// Looks up DmiInvoke and DmiIndicate in `module` (skipped when null) and the
// three registration entry points in the registration library (skipped when
// it did not load). 1 when every lookup made found its entry, else 0; after
// one fully successful call, 1 at once.
int ResolveDmiEntryPoints(platform::LibraryHandle module);

// 1 when the component's language string contains "unicode" (case matters),
// else 0, also for ids outside the table. Callers hold registrationMutex
// while the table may be changing.
int IsUnicodeLanguage(int componentId);

namespace testing {
// Forgets the state (the libraries stay loaded), so that a test can load
// again, as a fresh process would; `registrationName` stands in for
// kRegistrationLibraryName until the next reset. Tests only.
void ResetDmiLibraryForTesting(const char* registrationName = kRegistrationLibraryName);
}  // namespace testing

}  // namespace dmi

#endif  // SCHEDEXE_DMI_DMI_LIBRARY_H_
