// The live queue as other programs see it (schedexe-timers): the host
// publishes it after every change, together with the last time each task's
// event fired, and readers parse it back. A line-oriented text: each line a
// tag and tab-separated fields, numbers in decimal.
//   published <time value>
//   datafile <path>
//   fault <words>               (each fault that lasts; before the queue, so
//                                a publication cut to size keeps them)
//   event <task> <frequency> <state> <due time value>   (queue order)
//   last <task> <time value it fired>
//   passes <count>              (synchronisation passes begun so far)
//   passing                     (while the last of them is under way)
#ifndef SCHEDEXE_ENGINE_QUEUE_PUBLICATION_H_
#define SCHEDEXE_ENGINE_QUEUE_PUBLICATION_H_

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/event_queue.h"
#include "platform/clock.h"

namespace engine {

// The base of the object's name; see platform::InstanceObjectName.
inline constexpr char kQueuePublicationBase[] = "queue";

struct PublishedEvent {
  std::string task;
  int32_t frequency = 0;
  int32_t state = 0;
  platform::TimeValue due = 0;
};

struct QueueSnapshot {
  platform::TimeValue published = 0;
  std::string data_file;
  std::vector<PublishedEvent> queue;
  std::map<std::string, platform::TimeValue> last_fired;
  // Until a pass ends, the queue may still lack what it will queue.
  bool passing = false;
  // Passes begun since the service started, each counted before it reads
  // the data file: a pass numbered above the count seen after a write reads
  // that write. Ended passes are `passes` less one while `passing`.
  uint32_t passes = 0;
  // The faults that last (platform/faults.h).
  std::vector<std::string> faults;
};

// The passes of `snapshot` that have ended.
uint32_t EndedPasses(const QueueSnapshot& snapshot);

// The snapshot of `queue` at `now`.
QueueSnapshot SnapshotOf(const std::vector<EventRef>& queue,
                         const std::map<std::string, platform::TimeValue>& last_fired,
                         const std::string& data_file, platform::TimeValue now);
std::string FormatQueueSnapshot(const QueueSnapshot& snapshot);
// False for text that is not a snapshot (a line with an unknown tag, a field
// missing or not a number).
bool ParseQueueSnapshot(std::string_view text, QueueSnapshot* snapshot);

// The name this instance's queue is published under.
std::string QueuePublicationName();

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_QUEUE_PUBLICATION_H_
