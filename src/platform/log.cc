#include "platform/log.h"

#include <atomic>
#include <cstdio>
#include <mutex>

#include "platform/text.h"

namespace platform {

namespace {

constexpr int kOff = 0;

constexpr const char* kLevelNames[] = {"error", "warning", "notice", "info", "debug"};

std::atomic<int> most_detailed_level{kOff};

// Held while a line is written, so lines of several threads never mix.
std::mutex& SinkMutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed: threads outlive main
  return *mutex;
}

std::shared_ptr<LogSink>& Sink() {
  static auto* sink = new std::shared_ptr<LogSink>;
  return *sink;
}

}  // namespace

bool ParseLogLevel(std::string_view text, LogLevel* level) {
  for (int i = 0; i < 5; ++i) {
    if (EqualsIgnoreCase(text, kLevelNames[i])) {
      *level = static_cast<LogLevel>(i + static_cast<int>(LogLevel::kError));
      return true;
    }
  }
  return false;
}

const char* LogLevelName(LogLevel level) {
  const int i = static_cast<int>(level) - static_cast<int>(LogLevel::kError);
  return i >= 0 && i < 5 ? kLevelNames[i] : "?";
}

bool LogEnabled(LogLevel level) {
  return static_cast<int>(level) <= most_detailed_level.load(std::memory_order_relaxed);
}

void SetLogSink(std::shared_ptr<LogSink> sink, LogLevel most_detailed) {
  std::lock_guard<std::mutex> lock(SinkMutex());
  most_detailed_level = sink ? static_cast<int>(most_detailed) : kOff;
  Sink() = std::move(sink);
}

void Log(LogLevel level, std::string_view text) {
  if (!LogEnabled(level)) return;
  try {
    const std::string line = OneLine(text);
    std::lock_guard<std::mutex> lock(SinkMutex());
    if (Sink()) Sink()->Write(level, line);
  } catch (...) {
    // A line that cannot be made or written is lost; the caller goes on.
  }
}

std::string OneLine(std::string_view text) {
  const bool cut = text.size() > kLogTextLimit;
  size_t size = cut ? kLogTextLimit - 3 : text.size();
  // Not inside a UTF-8 sequence: back to the start of the character.
  if (cut) {
    while (size > 0 && (static_cast<unsigned char>(text[size]) & 0xC0) == 0x80) --size;
  }
  std::string line(text.substr(0, size));
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  }
  if (cut) line += "...";
  return line;
}

std::string TimestampedLine(LogLevel level, std::string_view text, const std::tm& local) {
  char stamp[32];
  if (std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local) == 0) stamp[0] = '\0';
  std::string line = stamp;
  line += ' ';
  line += LogLevelName(level);
  line += ": ";
  line += text;
  return line;
}

std::string StandardErrorLine(LogLevel level, std::string_view text, bool journal,
                              const std::tm& local) {
  if (!journal) return TimestampedLine(level, text, local) + "\n";
  std::string line = "<" + std::to_string(static_cast<int>(level)) + ">";
  line += text;
  line += '\n';
  return line;
}

}  // namespace platform
