#include "platform/working_set.h"

#include <malloc.h>
#include <sys/mman.h>

#include <cstdio>

namespace platform {

void TrimWorkingSet() {
  malloc_trim(0);
  FILE* maps = std::fopen("/proc/self/maps", "re");
  if (!maps) return;
  char line[4096 + 128];
  while (std::fgets(line, sizeof line, maps)) {
    unsigned long start = 0, end = 0;
    char perms[5] = {};
    int path = 0;
    if (std::sscanf(line, "%lx-%lx %4s %*s %*s %*s %n", &start, &end, perms, &path) < 3 ||
        path == 0) {
      continue;
    }
    // Only mappings of files that are never written: their pages come back
    // from the file. Anonymous or written pages would go to swap instead.
    // The kernel leaves alone the pages other processes map too (libc's).
    if (perms[1] == 'w' || line[path] != '/') continue;
    // The kernel gives the addresses as text.
    void* at = reinterpret_cast<void*>(start);  // NOLINT(performance-no-int-to-ptr)
    // Without read-ahead a page touched later brings back that page alone,
    // not the 128 KiB around it.
    madvise(at, end - start, MADV_RANDOM);
    madvise(at, end - start, MADV_PAGEOUT);
  }
  std::fclose(maps);
}

}  // namespace platform
