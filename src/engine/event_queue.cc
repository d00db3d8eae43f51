#include "engine/event_queue.h"

#include <algorithm>

namespace engine {

int EventQueue::FindIndex(const std::string& task) const {
  for (size_t i = 0; i < events_.size(); ++i) {
    if (events_[i]->GetTask() == task) return static_cast<int>(i);
  }
  return -1;
}

void EventQueue::InsertByDueTime(EventRef event) {
  auto at = events_.begin();
  while (at != events_.end() && schedule::CompareEvents(*event, **at) >= 0) ++at;
  events_.insert(at, std::move(event));
}

bool EventQueue::RemoveAt(int index) {
  if (index < 0 || static_cast<size_t>(index) >= events_.size()) return false;
  events_.erase(events_.begin() + index);
  return true;
}

bool EventQueue::Remove(const EventRef& event) {
  const auto it = std::find(events_.begin(), events_.end(), event);
  if (it == events_.end()) return false;
  events_.erase(it);
  return true;
}

}  // namespace engine
