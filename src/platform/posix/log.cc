// The Linux log: lines on standard error, for the journal or a terminal.
#include "platform/log.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

// How long a line may wait for a full pipe before it is dropped.
constexpr int kWriteWaitMs = 100;

// Whether standard error is the journal's stream: JOURNAL_STREAM names its
// device and inode, and a stream inherited by a child of ours is not it.
bool StandardErrorIsJournal() {
  const char* stream = std::getenv("JOURNAL_STREAM");
  if (!stream) return false;
  unsigned long long device = 0, inode = 0;
  if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2) return false;
  struct stat st;
  if (::fstat(STDERR_FILENO, &st) != 0) return false;
  return st.st_dev == device && st.st_ino == inode;
}

class StandardErrorSink final : public LogSink {
 public:
  explicit StandardErrorSink(bool journal) : journal_(journal) {}

  void Write(LogLevel level, const std::string& text) override {
    // A caller may still want the reason of its own failure.
    const int saved = errno;
    std::tm local{};
    const std::time_t now = std::time(nullptr);
    localtime_r(&now, &local);
    const std::string line = StandardErrorLine(level, text, journal_, local);
    // A pipe that takes a line takes all of it: a line is shorter than
    // PIPE_BUF, and poll reports room for that much.
    struct pollfd fd = {STDERR_FILENO, POLLOUT, 0};
    int ready;
    do {
      ready = ::poll(&fd, 1, kWriteWaitMs);
    } while (ready < 0 && errno == EINTR);
    if (ready == 1 && (fd.revents & POLLOUT)) {
      ssize_t n;
      do {
        n = ::write(STDERR_FILENO, line.data(), line.size());
      } while (n < 0 && errno == EINTR);
    }
    errno = saved;
  }

 private:
  const bool journal_;
};

}  // namespace

const char* ServiceLogPlace() {
  return "The log goes to standard error (the journal under systemd: journalctl -u schedexe),\n"
         "at the level SCHEDEXE_LOG_LEVEL names (error, warning, notice, info, debug;\n"
         "default notice).";
}

void StartServiceLog(const char*) {
  LogLevel level = kDefaultLogLevel;
  const char* configured = std::getenv("SCHEDEXE_LOG_LEVEL");
  const bool known = !configured || ParseLogLevel(configured, &level);
  SetLogSink(std::make_shared<StandardErrorSink>(StandardErrorIsJournal()), level);
  if (!known) {
    LogParts(LogLevel::kWarning, "SCHEDEXE_LOG_LEVEL \"", configured,
             "\" names no level (error, warning, notice, info, debug); notice is used");
  }
}

uint32_t LastOsError() { return static_cast<uint32_t>(errno); }

std::string OsErrorText(uint32_t code) {
  char buffer[256];
  // The GNU strerror_r returns the text, which may not be in the buffer.
  const char* text = strerror_r(static_cast<int>(code), buffer, sizeof buffer);
  return text ? text : "error " + std::to_string(code);
}

}  // namespace platform
