#include "agent_journal.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/process_info.h"

std::string AgentJournalPath() {
  std::string path = platform::GetEnvironmentVariable("AGENT_JOURNAL");
  if (!path.empty()) return path;
  return platform::ExecutableDirectory() + platform::kPathSeparator + "agent-journal.log";
}

std::string JournalLine(double seconds, const std::string& command_line) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%.3f\t", seconds);
  return stamp + command_line + "\n";
}

bool AppendJournalLine(const std::string& command_line, bool only_if_kept) {
  const std::string path = AgentJournalPath();
  std::error_code ignored;
  if (only_if_kept && platform::GetEnvironmentVariable("AGENT_JOURNAL").empty() &&
      !std::filesystem::exists(path, ignored)) {
    return true;
  }
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const double seconds =
      static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count()) /
      1000.0;
  return platform::AppendExclusive(path, JournalLine(seconds, command_line));
}
