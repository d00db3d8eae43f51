#include "platform/dynamic_library.h"

#include <windows.h>

namespace platform {

LibraryHandle LoadDynamicLibrary(const char* name) {
  return reinterpret_cast<LibraryHandle>(LoadLibraryA(name));
}

void* FindEntryPoint(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

}  // namespace platform
