// The engine: the live queue's operations, the dispatcher that arms a timer
// for the head of the queue and moves fired events on, the firing of an
// event, and the schedule text form.
#ifndef SCHEDEXE_ENGINE_SCHEDULER_HOST_H_
#define SCHEDEXE_ENGINE_SCHEDULER_HOST_H_

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "engine/event_queue.h"
#include "engine/scheduler.h"

namespace engine {

class SchedulerHost {
 public:
  // Reads the data-file path, creates the Scheduler and starts the
  // dispatcher thread.
  explicit SchedulerHost(EventQueue* queue);
  // The service never takes its host down; tests do: stops the dispatcher,
  // cancels the timer and waits until every engine thread has ended.
  virtual ~SchedulerHost();
  SchedulerHost(const SchedulerHost&) = delete;
  SchedulerHost& operator=(const SchedulerHost&) = delete;

  // Queues a copy in due-time order, after events due at the same time, and
  // wakes the dispatcher. A task already queued, and an irregular event
  // (which never runs), are refused without a wake.
  void AddEvent(const schedule::ScheduleEvent& event);
  // Takes the task's event out; with `oneTime` also marks its profile deleted
  // in the data file and in DMI, whether or not it was queued.
  void RemoveEvent(const std::string& task, bool oneTime);
  EventRef FindEventByTask(const std::string& task);
  int FindEventIndex(const std::string& task);
  EventRef FirstEvent();
  size_t QueueLength();
  void WakeScheduler();
  void SetDataFile(std::string path);
  std::string GetDataFile();

  // Dispatcher thread only.
  void ArmTimer();
  void HandleFiredEvent(const EventRef& event);

  // Execution thread: marks the user event fired and starts wactivate.
  void RunFiredEvent(const schedule::ScheduleEvent& event);
  void LaunchActivation(int number);

  // Schedule text form: add one event, load and save the schedule file (the
  // data-file path), and describe the queued events one after the other.
  void AddOneTime(std::string task, int32_t year, int32_t month,
                  int32_t dayOfMonth, int32_t hour, int32_t minute);
  void AddHourly(std::string task, int32_t minute);
  void AddDaily(std::string task, int32_t hour, int32_t minute);
  void AddWeekly(std::string task, int32_t dayOfWeek, int32_t hour,
                 int32_t minute);
  void AddMonthly(std::string task, int32_t dayOfMonth, int32_t hour,
                  int32_t minute);
  void AddYearly(std::string task, int32_t month, int32_t dayOfMonth,
                 int32_t hour, int32_t minute);
  void AddIrregular(std::string task);
  void LoadSchedule();
  void SaveSchedule();
  void ClearSchedule();
  void ResetSchedule();
  std::string NextDescription();
  void AppendEvent(const schedule::ScheduleEvent& event);
  void RemoveEventAt(int index);
  int32_t GetRecordCount();

  Scheduler& scheduler() { return *scheduler_; }

 private:
  int FindEventIndexLocked(const std::string& task) const;
  // Takes this very object out of the queue; false when it is not there.
  bool RemoveQueued(const EventRef& event);
  schedule::ScheduleEvent NewRecord();

  std::mutex mutex_;  // one queue operation at a time; never held across Wake
  std::string dataFile;
  EventQueue* const queue;
  std::unique_ptr<Scheduler> scheduler_;
  int32_t descriptionCursor = 0;
  int32_t recordCount = 0;
  int32_t loadedSections = 0;
};

// The dispatcher: arms a timer for the head of the queue and hands fired
// events to the host, for as long as the scheduler runs.
void DispatcherThread(Scheduler* scheduler);

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_SCHEDULER_HOST_H_
