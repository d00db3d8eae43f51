// The service's log: one line per fact an operator needs, at a level chosen
// by configuration. It is off until the service turns it on, so the tools
// and the tests that share this code write nothing.
#ifndef SCHEDEXE_PLATFORM_LOG_H_
#define SCHEDEXE_PLATFORM_LOG_H_

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Syslog priorities.
enum class LogLevel : int { kError = 3, kWarning = 4, kNotice = 5, kInfo = 6, kDebug = 7 };

inline constexpr LogLevel kDefaultLogLevel = LogLevel::kNotice;
// A longer text is cut: a line must fit one atomic write of a pipe.
inline constexpr size_t kLogTextLimit = 1000;

// "error", "warning", "notice", "info" or "debug", without regard to case.
bool ParseLogLevel(std::string_view text, LogLevel* level);
const char* LogLevelName(LogLevel level);

// Whether a line of `level` would be written now.
bool LogEnabled(LogLevel level);

// Writes `text` as one line. Never throws and never waits long: a line that
// cannot be written at once is dropped.
void Log(LogLevel level, std::string_view text);

// Where lines go. Write gets the text already made one line.
class LogSink {
 public:
  virtual ~LogSink() = default;
  virtual void Write(LogLevel level, const std::string& text) = 0;
};

// Sends lines up to `most_detailed` to `sink`; nullptr turns the log off.
void SetLogSink(std::shared_ptr<LogSink> sink, LogLevel most_detailed);

// Turns the log of the service `service_name` on, with the level and the
// destinations configured for it (Linux: SCHEDEXE_LOG_LEVEL and standard
// error; Windows: LogLevel and LogFile under its Parameters key, the
// Application event log).
void StartServiceLog(const char* service_name);
// Where that log goes and how its level is set, as a sentence for an
// operator.
const char* ServiceLogPlace();

// `text` as one line: control characters become blanks, and a text longer
// than kLogTextLimit is cut (never inside a UTF-8 sequence) and ends in "...".
std::string OneLine(std::string_view text);

// A line for a file or a terminal: local time, level, text.
std::string TimestampedLine(LogLevel level, std::string_view text, const std::tm& local);
// A line for standard error: under the journal its priority prefix ("<4>"),
// elsewhere a time stamp.
std::string StandardErrorLine(LogLevel level, std::string_view text, bool journal,
                              const std::tm& local);

// The OS's last error code (errno, GetLastError) and its text.
uint32_t LastOsError();
std::string OsErrorText(uint32_t code);

// Log(level, a + b + ...) built only when the level is on.
template <typename... Parts>
void LogParts(LogLevel level, const Parts&... parts) {
  if (!LogEnabled(level)) return;
  try {
    std::string text;
    (text.append(std::string_view(parts)), ...);
    Log(level, text);
  } catch (...) {
  }
}

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_LOG_H_
