#include "support/virtual_time.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>

namespace testsupport {

bool TakeDown(std::unique_ptr<engine::SchedulerHost>& host) {
  if (!host || host->Shutdown(10'000)) {
    host.reset();
    return true;
  }
  host.release();  // NOLINT(bugprone-unused-return-value): left to its threads
  return false;
}

void VirtualTime::Do(std::function<void()> action) { threads_.Start(std::move(action)); }

bool VirtualTime::Run(std::function<void()> action) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  Do([action = std::move(action), done] {
    action();
    done->store(true);
  });
  while (true) {
    if (!AwaitQuiet()) return false;
    if (done->load()) return true;
    if (!clock_.AdvanceToNextDeadline()) return false;  // blocked for good
  }
}

bool VirtualTime::AwaitQuiet() {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (std::chrono::steady_clock::now() < give_up) {
    // One consistent look: no thread started or ended around the count.
    const uint64_t before = threads_.Generation();
    const int live = threads_.Live();
    const int blocked = clock_.Blocked();
    if (threads_.Generation() == before && blocked >= live) return true;
    // Woken by the next wait that begins or ends; threads that end without
    // waiting are seen on the short time-out.
    clock_.AwaitBlockedChange(live, 50);
  }
  return false;
}

bool VirtualTime::RunFor(int64_t ms) {
  const int64_t target = clock_.NowMs() + ms;
  while (true) {
    if (!AwaitQuiet()) return false;
    const int64_t next = clock_.EarliestDeadline();
    if (next < 0 || next > target) break;
    clock_.AdvanceMs(next - clock_.NowMs());
  }
  clock_.AdvanceMs(target - clock_.NowMs());
  return AwaitQuiet();
}

}  // namespace testsupport
