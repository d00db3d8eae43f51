#include "dmi/dmi_library.h"

#include <string>

#include "platform/log.h"

namespace dmi {

namespace {

DmiLibraryState& State() {
  // Never destroyed: other threads may use the objects until the process ends.
  static DmiLibraryState* state = new DmiLibraryState;
  return *state;
}

std::string& RegistrationName() {
  static std::string* name = new std::string(kRegistrationLibraryName);
  return *name;
}

// The service starts without the libraries; a missing entry is a detail.
void Trace(const std::string& text) { platform::Log(platform::LogLevel::kDebug, text); }

// Finds `entry` in `library` into *slot; false (with a trace) when missing.
bool Resolve(platform::LibraryHandle library, const char* entry, void** slot) {
  *slot = platform::FindEntryPoint(library, entry);
  if (*slot) return true;
  Trace(std::string("GetProcAddress ") + entry + " failed");
  return false;
}

}  // namespace

DmiLibraryState& DmiLibrary() { return State(); }

platform::LibraryHandle LoadDmiLibrary(const char* name) {
  DmiLibraryState& s = State();
  if (s.initialised) return s.invokeLibrary;
  s.languageTable.clear();
  s.invokeLibrary = platform::LoadDynamicLibrary(name);
  s.registrationLibrary = platform::LoadDynamicLibrary(RegistrationName().c_str());
  // Made only where still missing, so a call after a failure creates only
  // what the failed one could not.
  if (!s.invokeMutex) s.invokeMutex = std::make_unique<std::mutex>();
  if (!s.registrationMutex) s.registrationMutex = std::make_unique<std::mutex>();
  if (!s.confirmEvent) {
    s.confirmEvent = std::make_unique<platform::Event>(false, false, platform::SystemClock());
  }
  s.initialised = true;
  return s.invokeLibrary;
}

int ResolveDmiEntryPoints(platform::LibraryHandle module) {
  DmiLibraryState& s = State();
  if (s.entryPointsFound) return 1;
  bool success = true;
  // A library that did not load is skipped, not a failure; every lookup is
  // made even after one has failed.
  if (module) {
    success &= Resolve(module, "DmiInvoke", &s.DmiInvoke);
    success &= Resolve(module, "DmiIndicate", &s.DmiIndicate);
  }
  if (s.registrationLibrary) {
    success &= Resolve(s.registrationLibrary, "DmiListLanguages", &s.DmiListLanguages);
    success &= Resolve(s.registrationLibrary, "DmiRegister", &s.DmiRegister);
    success &= Resolve(s.registrationLibrary, "DmiUnregister", &s.DmiUnregister);
  }
  if (success) s.entryPointsFound = true;
  return success ? 1 : 0;
}

int IsUnicodeLanguage(int componentId) {
  if (componentId < 0 || componentId >= kLanguageTableSize) return 0;
  const auto& table = State().languageTable;
  const auto entry = table.find(componentId);
  return entry != table.end() && entry->second.find("unicode") != std::string::npos ? 1 : 0;
}

namespace testing {

void ResetDmiLibraryForTesting(const char* registrationName) {
  State() = DmiLibraryState();
  RegistrationName() = registrationName;
}

}  // namespace testing

}  // namespace dmi
