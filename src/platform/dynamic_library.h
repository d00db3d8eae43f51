// Loading the optional DMI libraries.
#ifndef SCHEDEXE_PLATFORM_DYNAMIC_LIBRARY_H_
#define SCHEDEXE_PLATFORM_DYNAMIC_LIBRARY_H_

namespace platform {

using LibraryHandle = void*;

// LoadLibraryA(name); on Linux dlopen of `name` beside the executable, then of
// `name` as given. nullptr when it cannot be loaded.
LibraryHandle LoadDynamicLibrary(const char* name);

// GetProcAddress / dlsym; nullptr when the library or the entry is missing.
void* FindEntryPoint(LibraryHandle library, const char* name);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_DYNAMIC_LIBRARY_H_
