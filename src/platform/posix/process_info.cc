#include "platform/process_info.h"

#include <fcntl.h>
#include <malloc.h>
#include <sched.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/posix/command_line.h"
#include "platform/text.h"

namespace platform {

std::string OwnCommandLine(int argc, char** argv) {
  const std::vector<std::string> own(argv, argv + std::max(argc, 0));
  // Our process start leaves the Windows command line as sent, byte for
  // byte. It was sent to us only if it splits into our own argv: a program
  // we start, or one started with it left over in its environment, has it
  // from someone else.
  const char* line = std::getenv("SCHEDEXE_CMDLINE");
  if (line) {
    for (const posix::ProgramChoice& choice : posix::ProgramChoices(line)) {
      std::vector<std::string> split = posix::SplitArguments(choice.rest);
      split.insert(split.begin(), choice.name);
      if (split == own) return line;
    }
  }
  return WindowsCommandLine(own);
}

uint32_t CurrentProcessId() { return static_cast<uint32_t>(::getpid()); }

void KeepThreadsTogether() {
  ::mallopt(M_ARENA_MAX, 1);
  const int cpu = ::sched_getcpu();
  if (cpu < 0) return;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(cpu, &one);
  // Threads started later inherit the calling thread's set.
  ::sched_setaffinity(0, sizeof one, &one);
}

std::string ExecutableDirectory() {
  std::vector<char> path(4096);
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return "";
    if (static_cast<size_t>(n) < path.size()) {
      const std::string exe(path.data(), static_cast<size_t>(n));
      const size_t slash = exe.rfind('/');
      if (slash == std::string::npos) return ".";
      return slash == 0 ? "/" : exe.substr(0, slash);
    }
    path.resize(path.size() * 2);
  }
}

bool AppendExclusive(const std::string& native_path, std::string_view data) {
  const int fd = open(native_path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  int rc;
  while ((rc = flock(fd, LOCK_EX)) < 0 && errno == EINTR) {
  }
  bool ok = rc == 0;
  // One write normally; the loop only finishes a write a signal cut short.
  size_t done = 0;
  while (ok && done < data.size()) {
    const ssize_t n = write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
    } else {
      done += static_cast<size_t>(n);
    }
  }
  close(fd);  // releases the lock
  return ok;
}

std::string GetEnvironmentVariable(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace platform
