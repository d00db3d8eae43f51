// The engine's threads: started detached, as the system never joins them,
// but counted, so that a host can be taken down in tests and a test in
// virtual time can tell when every engine thread is blocked.
#ifndef SCHEDEXE_ENGINE_THREAD_GROUP_H_
#define SCHEDEXE_ENGINE_THREAD_GROUP_H_

#include <atomic>
#include <cstdint>
#include <functional>

namespace engine {

class ThreadGroup {
 public:
  // False when no thread could be started.
  bool Start(std::function<void()> body);
  // Threads started and not yet ended.
  int Live() const { return live_.load(); }
  // Changes whenever a thread starts or ends.
  uint64_t Generation() const { return generation_.load(); }

 private:
  void Ended();

  std::atomic<int> live_{0};
  std::atomic<uint64_t> generation_{0};
};

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_THREAD_GROUP_H_
