// Security attributes for the named objects every user's programs share with
// the service (it runs as LocalSystem).
#ifndef SCHEDEXE_PLATFORM_WIN32_OPEN_TO_EVERYONE_H_
#define SCHEDEXE_PLATFORM_WIN32_OPEN_TO_EVERYONE_H_

#include <windows.h>

namespace platform::win32 {

// A present but null DACL, which grants everyone every access; not
// inheritable. get() is null when the descriptor could not be made.
class OpenToEveryone {
 public:
  OpenToEveryone() {
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
    ok_ = InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
          SetSecurityDescriptorDacl(&descriptor_, TRUE, nullptr, FALSE);
  }
  OpenToEveryone(const OpenToEveryone&) = delete;
  OpenToEveryone& operator=(const OpenToEveryone&) = delete;

  SECURITY_ATTRIBUTES* get() { return ok_ ? &attributes_ : nullptr; }

 private:
  SECURITY_DESCRIPTOR descriptor_;
  SECURITY_ATTRIBUTES attributes_;
  bool ok_;
};

}  // namespace platform::win32

#endif  // SCHEDEXE_PLATFORM_WIN32_OPEN_TO_EVERYONE_H_
