// The Windows log: the Application event log, and a file when the service's
// Parameters key names one (Wine's event log records nothing).
#include "platform/log.h"

#include <windows.h>

#include <cstring>

#include "log_messages.h"  // generated from log_messages.mc
#include "platform/env.h"

namespace platform {

namespace {

constexpr size_t kValueBufferSize = 1024;

std::string ReadParameter(const std::string& key, const char* value) {
  char buffer[kValueBufferSize];
  if (SystemEnv().ReadRegistryString(key.c_str(), value, buffer, sizeof buffer) !=
      RegistryStatus::kOk) {
    return "";
  }
  return buffer;
}

class EventLogSink final : public LogSink {
 public:
  EventLogSink(const char* source, const std::string& file_name)
      : source_(RegisterEventSourceA(nullptr, source)) {
    if (!file_name.empty()) {
      // Shared, so that an operator can read it while the service runs.
      file_ = CreateFileA(file_name.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                          nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    }
  }
  ~EventLogSink() override {
    if (source_) DeregisterEventSource(source_);
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
  }

  bool FileFailed(const std::string& file_name) const {
    return !file_name.empty() && file_ == INVALID_HANDLE_VALUE;
  }

  void Write(LogLevel level, const std::string& text) override {
    // A caller may still want the reason of its own failure.
    const DWORD saved = GetLastError();
    if (source_) {
      WORD type = EVENTLOG_INFORMATION_TYPE;
      DWORD id = SCHEDEXE_LOG_INFO;
      if (level == LogLevel::kError) {
        type = EVENTLOG_ERROR_TYPE;
        id = SCHEDEXE_LOG_ERROR;
      } else if (level == LogLevel::kWarning) {
        type = EVENTLOG_WARNING_TYPE;
        id = SCHEDEXE_LOG_WARNING;
      }
      const char* strings[] = {text.c_str()};
      ReportEventA(source_, type, 0, id, nullptr, 1, 0, strings, nullptr);
    }
    if (file_ != INVALID_HANDLE_VALUE) {
      SYSTEMTIME now;
      GetLocalTime(&now);
      std::tm local{};
      local.tm_year = now.wYear - 1900;
      local.tm_mon = now.wMonth - 1;
      local.tm_mday = now.wDay;
      local.tm_hour = now.wHour;
      local.tm_min = now.wMinute;
      local.tm_sec = now.wSecond;
      const std::string line = TimestampedLine(level, text, local) + "\r\n";
      DWORD written = 0;
      WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    }
    SetLastError(saved);
  }

 private:
  HANDLE source_;
  HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace

const char* ServiceLogPlace() {
  return "The log goes to the Application event log (source schedExe), and to the file\n"
         "that the value LogFile of the service's Parameters key names, at the level its\n"
         "value LogLevel names (error, warning, notice, info, debug; default notice).";
}

void StartServiceLog(const char* service_name) {
  const std::string key =
      std::string("SYSTEM\\CurrentControlSet\\Services\\") + service_name + "\\Parameters";
  const std::string file_name = ReadParameter(key, "LogFile");
  const std::string level_text = ReadParameter(key, "LogLevel");
  LogLevel level = kDefaultLogLevel;
  const bool known = level_text.empty() || ParseLogLevel(level_text, &level);
  auto sink = std::make_shared<EventLogSink>(service_name, file_name);
  const bool file_failed = sink->FileFailed(file_name);
  const uint32_t reason = LastOsError();
  SetLogSink(std::move(sink), level);
  if (file_failed) {
    LogParts(LogLevel::kError, "cannot open the log file ", file_name, ": ", OsErrorText(reason));
  }
  if (!known) {
    LogParts(LogLevel::kWarning, "LogLevel \"", level_text,
             "\" names no level (error, warning, notice, info, debug); notice is used");
  }
}

uint32_t LastOsError() { return GetLastError(); }

std::string OsErrorText(uint32_t code) {
  char buffer[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           code, 0, buffer, sizeof buffer, nullptr);
  // The system's texts end in ".\r\n".
  while (n > 0 && (buffer[n - 1] == '\n' || buffer[n - 1] == '\r' || buffer[n - 1] == '.')) --n;
  std::string text(buffer, n);
  if (text.empty()) return "error " + std::to_string(code);
  return text + " (error " + std::to_string(code) + ")";
}

}  // namespace platform
