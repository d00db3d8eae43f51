#include "engine/thread_group.h"

#include <utility>

#include "platform/thread.h"

namespace engine {

bool ThreadGroup::Start(std::function<void()> body) {
  // Counted before it exists, so the starter never sees a moment in which a
  // new thread is neither counted nor blocked.
  ++live_;
  ++generation_;
  const bool started = platform::StartDetachedThread([this, body = std::move(body)] {
    body();
    Ended();
  });
  if (!started) Ended();
  return started;
}

void ThreadGroup::Ended() {
  ++generation_;
  --live_;
}

}  // namespace engine
