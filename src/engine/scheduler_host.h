// The engine's host: the live queue's operations, made one step each towards
// the other threads by one lock. The dispatcher's work on the host lives in
// dispatcher_thread.cc, the firing of an event in event_execution.cc, and the
// schedule text form in schedule_text_form.h.
#ifndef SCHEDEXE_ENGINE_SCHEDULER_HOST_H_
#define SCHEDEXE_ENGINE_SCHEDULER_HOST_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config/live_queue.h"
#include "engine/event_queue.h"
#include "engine/scheduler.h"
#include "platform/mutex.h"
#include "platform/shared_snapshot.h"

namespace engine {

class SchedulerHost : public config::LiveQueue {
 public:
  // Reads the data-file path, creates the Scheduler and starts the
  // dispatcher thread.
  explicit SchedulerHost(EventQueue* queue);
  // The service never takes its host down; tests do, through Shutdown
  // first. Destroying a host whose threads did not end aborts the process
  // rather than free what they use.
  virtual ~SchedulerHost();
  SchedulerHost(const SchedulerHost&) = delete;
  SchedulerHost& operator=(const SchedulerHost&) = delete;

  // Stops the dispatcher, cancels the timer and waits, at most `real_ms` of
  // real time, until every engine thread has ended. False when one still
  // runs: the host must then be left alive.
  bool Shutdown(int real_ms);

  // Queues a copy in due-time order, after events due at the same time, and
  // wakes the dispatcher. A task already queued, and an irregular event
  // (which never runs), are refused without a wake.
  void AddEvent(const schedule::ScheduleEvent& event) override;
  // Takes the task's event out; with `oneTime` also marks its profile deleted
  // in the data file and in DMI, whether or not it was queued.
  void RemoveEvent(const std::string& task, bool oneTime) override;
  EventRef FindEventByTask(const std::string& task) EXCLUDES(mutex_);
  int FindEventIndex(const std::string& task) EXCLUDES(mutex_);
  EventRef FirstEvent() EXCLUDES(mutex_);
  size_t QueueLength() EXCLUDES(mutex_);
  void WakeScheduler() override;
  void SetDataFile(std::string path) override;
  // A synchronisation pass begins (before its snapshot reads the data file)
  // and ends, for those who watch the publication: the editor waits for a
  // pass begun after its write to end.
  void BeginPass() EXCLUDES(mutex_);
  void EndPass() EXCLUDES(mutex_);
  std::string GetDataFile() EXCLUDES(mutex_);

  // The schedule text form's plain access to the queue: appends that ignore
  // due-time order, the event at a position, removal by position (false
  // when there is none), and a copy of the whole queue.
  void AppendUnordered(EventRef event) EXCLUDES(mutex_);
  EventRef EventAt(int index) EXCLUDES(mutex_);
  bool RemoveEventAt(int index) EXCLUDES(mutex_);
  std::vector<EventRef> QueuedEvents() EXCLUDES(mutex_);

  // Dispatcher thread only (dispatcher_thread.cc).
  void ArmTimer();
  void HandleFiredEvent(const EventRef& event);

  // Execution thread (event_execution.cc): marks the user event fired and
  // starts wactivate.
  void RunFiredEvent(const schedule::ScheduleEvent& event);
  void LaunchActivation(int number);

  // Publishes the queue under `name` from now on, after every change
  // (queue_publication.h); false when it cannot be published.
  bool StartPublishing(const std::string& name) EXCLUDES(mutex_);
  // The event's timer ran out and its task starts now.
  void NoteFired(const schedule::ScheduleEvent& event) EXCLUDES(mutex_);

  Scheduler& scheduler() { return *scheduler_; }

 private:
  void PublishLocked() REQUIRES(mutex_);
  void RetryPublishingLocked() REQUIRES(mutex_);

  // Takes this very object out of the queue; false when it is not there.
  bool RemoveQueued(const EventRef& event) EXCLUDES(mutex_);

  platform::Mutex mutex_;  // one queue operation at a time; never held across Wake
  std::string dataFile GUARDED_BY(mutex_);
  EventQueue* const queue PT_GUARDED_BY(mutex_);
  std::string publication_ GUARDED_BY(mutex_);  // its name once StartPublishing named it
  std::unique_ptr<platform::SnapshotPublisher> publisher_ GUARDED_BY(mutex_);
  std::map<std::string, platform::TimeValue> last_fired_ GUARDED_BY(mutex_);
  bool passing_ GUARDED_BY(mutex_) = false;
  uint32_t passes_ GUARDED_BY(mutex_) = 0;
  bool publishing_ = false;  // the fault listener is ours: set once, by StartPublishing
  std::unique_ptr<Scheduler> scheduler_;
};

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_SCHEDULER_HOST_H_
