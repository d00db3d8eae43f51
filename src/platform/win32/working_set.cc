#include "platform/working_set.h"

#include <windows.h>

namespace platform {

void TrimWorkingSet() {
  // (SIZE_T)-1 twice: remove as many pages as possible from the working set.
  SetProcessWorkingSetSize(GetCurrentProcess(), static_cast<SIZE_T>(-1), static_cast<SIZE_T>(-1));
}

}  // namespace platform
