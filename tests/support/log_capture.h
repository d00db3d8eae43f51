// Takes the log's lines for the life of the object, at every level, so a test
// can look at what the service would have told its operator.
#ifndef SCHEDEXE_TESTS_SUPPORT_LOG_CAPTURE_H_
#define SCHEDEXE_TESTS_SUPPORT_LOG_CAPTURE_H_

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/log.h"

namespace testsupport {

class LogCapture {
 public:
  explicit LogCapture(platform::LogLevel most_detailed = platform::LogLevel::kDebug)
      : sink_(std::make_shared<Sink>()) {
    platform::SetLogSink(sink_, most_detailed);
  }
  ~LogCapture() { platform::SetLogSink(nullptr, platform::kDefaultLogLevel); }

  // "level: text", one entry per line.
  std::vector<std::string> Lines() {
    std::lock_guard<std::mutex> lock(sink_->mutex);
    return sink_->lines;
  }
  // Lines of `level` that hold every one of `parts`.
  int Count(platform::LogLevel level, std::initializer_list<std::string> parts) {
    int n = 0;
    const std::string prefix = std::string(platform::LogLevelName(level)) + ": ";
    for (const std::string& line : Lines()) {
      bool all = line.rfind(prefix, 0) == 0;
      for (const std::string& p : parts) all = all && line.find(p) != std::string::npos;
      n += all;
    }
    return n;
  }

 private:
  struct Sink : platform::LogSink {
    void Write(platform::LogLevel level, const std::string& text) override {
      std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(std::string(platform::LogLevelName(level)) + ": " + text);
    }
    std::mutex mutex;
    std::vector<std::string> lines;
  };
  std::shared_ptr<Sink> sink_;
};

}  // namespace testsupport

#endif  // SCHEDEXE_TESTS_SUPPORT_LOG_CAPTURE_H_
