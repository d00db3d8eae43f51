// A CLOCK_REALTIME timer far in the future, armed with cancel-on-set: every
// set of the clock cancels it, which its read reports as ECANCELED.
#include "platform/clock_step.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <thread>
#include <utility>

#include "platform/log.h"

namespace platform {
namespace {

bool ArmFarAhead(int timer) {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  itimerspec far{};
  far.it_value.tv_sec = now.tv_sec + 100LL * 365 * 24 * 3600;
  return timerfd_settime(timer, TFD_TIMER_ABSTIME | TFD_TIMER_CANCEL_ON_SET, &far, nullptr) == 0;
}

class TimerfdSource final : public ClockSetSource {
 public:
  TimerfdSource(int timer, int stop, std::function<void()> on_set)
      : timer_(timer), stop_(stop), thread_([this, on_set = std::move(on_set)] { Run(on_set); }) {}
  ~TimerfdSource() override {
    const uint64_t one = 1;
    (void)!::write(stop_, &one, sizeof one);
    thread_.join();
    ::close(timer_);
    ::close(stop_);
  }
  TimerfdSource(const TimerfdSource&) = delete;
  TimerfdSource& operator=(const TimerfdSource&) = delete;

 private:
  void Run(const std::function<void()>& on_set) {
    pollfd fds[2] = {{timer_, POLLIN, 0}, {stop_, POLLIN, 0}};
    while (true) {
      if (::poll(fds, 2, -1) < 0) {
        if (errno == EINTR) continue;
        return;
      }
      if (fds[1].revents != 0) return;
      uint64_t expirations = 0;
      const ssize_t got = ::read(timer_, &expirations, sizeof expirations);
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (got >= 0 || errno != ECANCELED || !ArmFarAhead(timer_)) {
        // A timer a century ahead ran out (the clock was set past it, or
        // something fakes time), or cannot be armed again.
        LogParts(LogLevel::kWarning, "sets of the wall clock go unseen from now on: ",
                 got >= 0 ? "its far timer ran out" : std::strerror(errno));
        return;
      }
      on_set();
    }
  }

  const int timer_;
  const int stop_;
  std::thread thread_;  // last: starts once the descriptors are in place
};

}  // namespace

std::unique_ptr<ClockSetSource> StartClockSetSource(std::function<void()> on_set,
                                                    std::string* error) {
  const int timer = timerfd_create(CLOCK_REALTIME, TFD_CLOEXEC | TFD_NONBLOCK);
  if (timer < 0 || !ArmFarAhead(timer)) {
    *error = std::string("no timer that a set of the clock cancels: ") + std::strerror(errno);
    if (timer >= 0) ::close(timer);
    return nullptr;
  }
  const int stop = eventfd(0, EFD_CLOEXEC);
  if (stop < 0) {
    *error = std::string("no event to stop the clock watch: ") + std::strerror(errno);
    ::close(timer);
    return nullptr;
  }
  return std::make_unique<TimerfdSource>(timer, stop, std::move(on_set));
}

}  // namespace platform
