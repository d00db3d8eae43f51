#include "platform/dynamic_library.h"

#include <dlfcn.h>

#include <string>

#include "platform/file.h"
#include "platform/process_info.h"

namespace platform {

LibraryHandle LoadDynamicLibrary(const char* name) {
  if (!name || !*name) return nullptr;
  const std::string native = NativePath(name);
  // LoadLibraryA looks in the application's folder first; dlopen alone would
  // not.
  if (native.find('/') == std::string::npos) {
    const std::string beside = ExecutableDirectory() + "/" + native;
    if (void* library = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return library;
  }
  return dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* FindEntryPoint(LibraryHandle library, const char* name) {
  if (!library || !name) return nullptr;
  return dlsym(library, name);
}

}  // namespace platform
