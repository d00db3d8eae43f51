// The schedule text form of a host's queue: events added one per frequency,
// loaded from and saved to an ini-style schedule file (the host's data-file
// path), and described one after the other. Nothing the running service does
// uses it.
#ifndef SCHEDEXE_ENGINE_SCHEDULE_TEXT_FORM_H_
#define SCHEDEXE_ENGINE_SCHEDULE_TEXT_FORM_H_

#include <cstdint>
#include <string>

#include "engine/scheduler_host.h"
#include "platform/mutex.h"

namespace engine {

class ScheduleTextForm {
 public:
  explicit ScheduleTextForm(SchedulerHost& host) : host_(host) {}
  ScheduleTextForm(const ScheduleTextForm&) = delete;
  ScheduleTextForm& operator=(const ScheduleTextForm&) = delete;

  // One per frequency: a new record whose source file is the host's data
  // file, set up with the calendar values, handed to the host's AddEvent.
  void AddOneTime(std::string task, int32_t year, int32_t month, int32_t dayOfMonth, int32_t hour,
                  int32_t minute);
  void AddHourly(std::string task, int32_t minute);
  void AddDaily(std::string task, int32_t hour, int32_t minute);
  void AddWeekly(std::string task, int32_t dayOfWeek, int32_t hour, int32_t minute);
  void AddMonthly(std::string task, int32_t dayOfMonth, int32_t hour, int32_t minute);
  void AddYearly(std::string task, int32_t month, int32_t dayOfMonth, int32_t hour, int32_t minute);
  void AddIrregular(std::string task);

  // Appends a record for every "schedEvent" n section, n = 1, 2, ... up to
  // the first without a task, to the end of the queue in file order; a
  // section whose frequency word names none is left out.
  void LoadSchedule();
  // ClearSchedule, then every queued record written as section 1, 2, ...,
  // in one locked rewrite of the file.
  void SaveSchedule();
  // Deletes the sections the last load found.
  void ClearSchedule();
  // The cursor, the record count and the loaded-section count back to 0.
  void ResetSchedule();
  // The queued record at the cursor described, the cursor moved on; "" once
  // the cursor has reached the record count.
  std::string NextDescription();
  // A copy of `event` at the end of the queue / the record at `index` taken
  // out, counting the records up or down.
  void AppendEvent(const schedule::ScheduleEvent& event);
  void RemoveEventAt(int index);
  int32_t GetRecordCount();

 private:
  schedule::ScheduleEvent NewRecord();
  // ClearSchedule's deletions and, with `save`, the writing of every queued
  // record, as one update of the file.
  void Rewrite(bool save);

  SchedulerHost& host_;
  platform::Mutex mutex_;
  int32_t description_cursor_ GUARDED_BY(mutex_) = 0;
  int32_t record_count_ GUARDED_BY(mutex_) = 0;
  int32_t loaded_sections_ GUARDED_BY(mutex_) = 0;
};

}  // namespace engine

#endif  // SCHEDEXE_ENGINE_SCHEDULE_TEXT_FORM_H_
