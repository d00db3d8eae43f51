// Test support that is the same on every OS.
#include "platform/testing.h"

#include <chrono>
#include <future>
#include <thread>

#include "platform/file.h"

namespace platform::testing {

std::string FileContents(const std::string& native_path) {
  std::string bytes;
  ReadFileContents(native_path, &bytes, nullptr);
  return bytes;
}

bool EndsUnaided(const std::function<void()>& work, const std::vector<SpecialFile>& files,
                 int seconds) {
  std::packaged_task<void()> task(work);
  std::future<void> done = task.get_future();
  std::thread runner(std::move(task));
  const bool unaided = done.wait_for(std::chrono::seconds(seconds)) == std::future_status::ready;
  while (done.wait_for(std::chrono::milliseconds(100)) != std::future_status::ready) {
    for (const SpecialFile& file : files) ReleasePipeReaders(file.path);
  }
  runner.join();
  return unaided;
}

}  // namespace platform::testing
