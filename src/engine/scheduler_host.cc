#include "engine/scheduler_host.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "config/data_file_path.h"
#include "config/profile_access.h"
#include "dmi/command_runner.h"
#include "engine/dispatcher_thread.h"
#include "engine/queue_publication.h"
#include "platform/faults.h"
#include "schedule/task_number.h"

namespace engine {

namespace {
// Long enough for any engine thread of a test to notice the stop.
constexpr int kDestructionWaitMs = 10'000;
}  // namespace

SchedulerHost::SchedulerHost(EventQueue* q)
    : dataFile(config::ReadDataFilePath()),
      queue(q),
      scheduler_(std::make_unique<Scheduler>(q, this)) {
  Scheduler* s = scheduler_.get();
  s->threads().Start([s] { DispatcherThread(s); });
  s->WatchClockSteps();
}

SchedulerHost::~SchedulerHost() {
  if (publishing_) platform::SetFaultListener(nullptr);
  if (Shutdown(kDestructionWaitMs)) return;
  std::fprintf(stderr, "SchedulerHost destroyed while engine threads still run\n");
  std::abort();
}

bool SchedulerHost::Shutdown(int real_ms) { return scheduler_->StopThreads(real_ms); }

void SchedulerHost::AddEvent(const schedule::ScheduleEvent& event) {
  if (event.GetFrequency() == schedule::Irregular) return;
  auto copy = std::make_shared<schedule::ScheduleEvent>(event);
  {
    platform::MutexLock lock(mutex_);
    if (queue->FindIndex(copy->GetTask()) != -1) return;
    queue->InsertByDueTime(std::move(copy));
    PublishLocked();
  }
  scheduler_->Wake();
}

void SchedulerHost::RemoveEvent(const std::string& task, bool oneTime) {
  std::string path;
  {
    platform::MutexLock lock(mutex_);
    if (queue->RemoveAt(queue->FindIndex(task))) PublishLocked();
    path = dataFile;
  }
  if (!oneTime) return;
  config::WriteProfileText(path, config::kProfileSectionPrefix + task, config::kStateKey,
                           config::kDeleteWord);
  dmi::SetProfileRowDeleted(
      static_cast<int>(static_cast<unsigned>(schedule::TaskNumber(task)) + 1u));
}

EventRef SchedulerHost::FindEventByTask(const std::string& task) {
  platform::MutexLock lock(mutex_);
  const int index = queue->FindIndex(task);
  return index == -1 ? nullptr : queue->events()[index];
}

int SchedulerHost::FindEventIndex(const std::string& task) {
  platform::MutexLock lock(mutex_);
  return queue->FindIndex(task);
}

EventRef SchedulerHost::FirstEvent() { return EventAt(0); }

size_t SchedulerHost::QueueLength() {
  platform::MutexLock lock(mutex_);
  return queue->events().size();
}

void SchedulerHost::WakeScheduler() { scheduler_->Wake(); }

void SchedulerHost::SetDataFile(std::string path) {
  platform::MutexLock lock(mutex_);
  dataFile = std::move(path);
  PublishLocked();
}

std::string SchedulerHost::GetDataFile() {
  platform::MutexLock lock(mutex_);
  return dataFile;
}

void SchedulerHost::AppendUnordered(EventRef event) {
  platform::MutexLock lock(mutex_);
  queue->Append(std::move(event));
  PublishLocked();
}

EventRef SchedulerHost::EventAt(int index) {
  platform::MutexLock lock(mutex_);
  const auto& events = queue->events();
  if (index < 0 || static_cast<size_t>(index) >= events.size()) return nullptr;
  return events[index];
}

bool SchedulerHost::RemoveEventAt(int index) {
  platform::MutexLock lock(mutex_);
  if (!queue->RemoveAt(index)) return false;
  PublishLocked();
  return true;
}

std::vector<EventRef> SchedulerHost::QueuedEvents() {
  platform::MutexLock lock(mutex_);
  return queue->events();
}

bool SchedulerHost::RemoveQueued(const EventRef& event) {
  platform::MutexLock lock(mutex_);
  if (!queue->Remove(event)) return false;
  PublishLocked();
  return true;
}

bool SchedulerHost::StartPublishing(const std::string& name) {
  auto publisher = platform::SnapshotPublisher::Create(name);
  platform::MutexLock lock(mutex_);
  publication_ = name;
  publisher_ = std::move(publisher);
  PublishLocked();
  // A fault that comes or goes is published at once, not with the next
  // change of the queue. Faults are never met with the queue's lock held.
  publishing_ = true;
  platform::SetFaultListener([this] {
    platform::MutexLock relock(mutex_);
    PublishLocked();
  });
  return publisher_ != nullptr;
}

void SchedulerHost::NoteFired(const schedule::ScheduleEvent& event) {
  platform::MutexLock lock(mutex_);
  if (!publisher_) return;
  last_fired_[event.GetTask()] = platform::SystemClock().Now();
  PublishLocked();
}

void SchedulerHost::BeginPass() {
  platform::MutexLock lock(mutex_);
  RetryPublishingLocked();
  passing_ = true;
  ++passes_;
  PublishLocked();
}

void SchedulerHost::EndPass() {
  platform::MutexLock lock(mutex_);
  RetryPublishingLocked();
  passing_ = false;
  PublishLocked();
}

void SchedulerHost::RetryPublishingLocked() {
  // The name may still have been held at the start by a scheduler that was
  // ending (a restart): it is free by the time a pass begins or ends.
  if (!publisher_ && !publication_.empty()) {
    publisher_ = platform::SnapshotPublisher::Create(publication_);
  }
}

void SchedulerHost::PublishLocked() {
  // Held briefly by the queue's own lock, so snapshots follow the changes in
  // their order; the publisher never waits for its readers.
  if (!publisher_) return;
  QueueSnapshot snapshot =
      SnapshotOf(queue->events(), last_fired_, dataFile, platform::SystemClock().Now());
  snapshot.passing = passing_;
  snapshot.passes = passes_;
  snapshot.faults = platform::CurrentFaults();
  std::string text = FormatQueueSnapshot(snapshot);
  if (text.size() > platform::kSnapshotCapacity) {
    // Whole lines only: a reader still finds the head of the queue.
    text.resize(text.rfind('\n', platform::kSnapshotCapacity - 1) + 1);
  }
  publisher_->Publish(text);
}

}  // namespace engine
