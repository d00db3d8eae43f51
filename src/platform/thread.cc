#include "platform/thread.h"

#include <system_error>
#include <thread>

namespace platform {

bool StartDetachedThread(std::function<void()> body) {
  try {
    std::thread(std::move(body)).detach();
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void PauseGate::Pause() {
  std::lock_guard<std::mutex> g(mutex_);
  paused_ = true;
}

void PauseGate::Resume() {
  std::lock_guard<std::mutex> g(mutex_);
  paused_ = false;
  resumed_.notify_all();
}

bool PauseGate::IsPaused() {
  std::lock_guard<std::mutex> g(mutex_);
  return paused_;
}

bool PauseGate::IsHolding() {
  std::lock_guard<std::mutex> g(mutex_);
  return holding_ > 0;
}

bool PauseGate::Checkpoint() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!paused_) return false;
  ++holding_;
  resumed_.wait(lock, [this] { return !paused_; });
  --holding_;
  return true;
}

namespace {
thread_local PauseGate* thread_gate = nullptr;
}  // namespace

void SetThreadPauseGate(PauseGate* gate) { thread_gate = gate; }

bool PausePoint() { return thread_gate && thread_gate->Checkpoint(); }

}  // namespace platform
