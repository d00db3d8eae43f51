#include "engine/scheduler_host.h"

#include <chrono>
#include <thread>
#include <utility>

#include "config/data_file_path.h"
#include "config/profile_access.h"
#include "config/schedule_config.h"
#include "dmi/command_runner.h"
#include "dmi/agent_client_directory.h"
#include "engine/event_timer.h"
#include "kvbase/profile.h"
#include "platform/registry_path.h"
#include "schedule/task_number.h"

namespace engine {

namespace {

constexpr char kStateKey[] = "State";
constexpr char kDeleteWord[] = "Delete";
constexpr char kActivationText[] = "wactivate /category:2 /event:";
constexpr char kScheduleSectionPrefix[] = "schedEvent";

}  // namespace

SchedulerHost::SchedulerHost(EventQueue* q)
    : dataFile(config::ReadDataFilePath()),
      queue(q),
      scheduler_(std::make_unique<Scheduler>(q, this)) {
  Scheduler* s = scheduler_.get();
  s->threads().Start([s] { DispatcherThread(s); });
}

SchedulerHost::~SchedulerHost() {
  Scheduler& s = *scheduler_;
  s.stopping = true;
  // Signals until everyone has left: a Wake in progress and the dispatcher
  // may both be waiting for the one auto-reset signal, and a dispatcher that
  // was arming when the stop came may just have started one more timer.
  while (s.threads().Live() > 0) {
    if (auto timer = s.CurrentTimer()) timer->Cancel();
    s.wakeEvent.Set();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

void SchedulerHost::AddEvent(const schedule::ScheduleEvent& event) {
  if (event.GetFrequency() == schedule::Irregular) return;
  auto copy = std::make_shared<schedule::ScheduleEvent>(event);
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (FindEventIndexLocked(copy->GetTask()) != -1) return;
    auto& events = queue->events;
    auto at = events.begin();
    while (at != events.end() && schedule::CompareEvents(*copy, **at) >= 0) ++at;
    events.insert(at, std::move(copy));
  }
  scheduler_->Wake();
}

void SchedulerHost::RemoveEvent(const std::string& task, bool oneTime) {
  std::string path;
  {
    std::lock_guard<std::mutex> g(mutex_);
    const int index = FindEventIndexLocked(task);
    if (index != -1) queue->events.erase(queue->events.begin() + index);
    path = dataFile;
  }
  if (!oneTime) return;
  config::WriteProfileText(path, config::kProfileSectionPrefix + task, kStateKey,
                           kDeleteWord);
  dmi::SetProfileRowDeleted(static_cast<int>(
      static_cast<unsigned>(schedule::TaskNumber(task)) + 1u));
}

int SchedulerHost::FindEventIndexLocked(const std::string& task) const {
  const auto& events = queue->events;
  for (size_t i = 0; i < events.size(); ++i) {
    if (events[i]->GetTask() == task) return static_cast<int>(i);
  }
  return -1;
}

EventRef SchedulerHost::FindEventByTask(const std::string& task) {
  std::lock_guard<std::mutex> g(mutex_);
  const int index = FindEventIndexLocked(task);
  return index == -1 ? nullptr : queue->events[index];
}

int SchedulerHost::FindEventIndex(const std::string& task) {
  std::lock_guard<std::mutex> g(mutex_);
  return FindEventIndexLocked(task);
}

EventRef SchedulerHost::FirstEvent() {
  std::lock_guard<std::mutex> g(mutex_);
  return queue->events.empty() ? nullptr : queue->events.front();
}

size_t SchedulerHost::QueueLength() {
  std::lock_guard<std::mutex> g(mutex_);
  return queue->events.size();
}

void SchedulerHost::WakeScheduler() { scheduler_->Wake(); }

void SchedulerHost::SetDataFile(std::string path) {
  std::lock_guard<std::mutex> g(mutex_);
  dataFile = std::move(path);
}

std::string SchedulerHost::GetDataFile() {
  std::lock_guard<std::mutex> g(mutex_);
  return dataFile;
}

void DispatcherThread(Scheduler* scheduler) {
  SchedulerHost& host = *scheduler->host();
  while (!scheduler->stopping) {
    if (scheduler->pendingFlag) {
      // Taken, not read and cleared later: a firing that lands while this
      // one is handled is kept for the next turn.
      if (EventRef fired = scheduler->TakeLastFired()) host.HandleFiredEvent(fired);
      host.ArmTimer();
    } else {
      scheduler->wakeEvent.Wait(platform::kInfinite);
    }
  }
}

void SchedulerHost::ArmTimer() {
  Scheduler& s = *scheduler_;
  if (s.stopping) return;
  EventRef head;
  {
    std::lock_guard<std::mutex> g(mutex_);
    if (!queue->events.empty()) {
      head = queue->events.front();
      // Cleared before the head is looked at, so a Wake from now on always
      // brings the dispatcher back.
      s.pendingFlag = false;
    }
  }
  std::shared_ptr<EventTimer> current = s.CurrentTimer();
  if (!head) {
    // Nothing left to fire: an event a reload removed must not fire later.
    if (current) current->Cancel();
    s.wakeEvent.Wait(platform::kInfinite);
    return;
  }
  if (current && !current->Cancel() && current->IsFiring()) {
    // Its time came first: Fire hands the event over and wakes us again.
    return;
  }
  const int32_t secs = schedule::SecondsUntil(*head);
  if (secs <= 0) {
    // Due already: handled as fired, without being started.
    s.SetLastFired(head);
    s.Wake();
    return;
  }
  auto timer = std::make_shared<EventTimer>(&s, secs, head);
  s.SetCurrentTimer(timer);
  // A timer that cannot start leaves the head for the next Wake to re-arm.
  s.threads().Start([timer] { TimerThread(timer); });
}

void SchedulerHost::HandleFiredEvent(const EventRef& event) {
  const int32_t frequency = event->GetFrequency();
  if (frequency == schedule::OneTime) {
    RemoveEvent(event->GetTask(), true);
    return;
  }
  // Only the queued object moves on. One a reload took out (or replaced)
  // while it fired is not put back: a deleted profile must not come back.
  if (!RemoveQueued(event)) return;
  switch (frequency) {
    case schedule::Hourly:
      event->AdvanceHour();
      break;
    case schedule::Daily:
      event->AdvanceDay();
      break;
    case schedule::Weekly:
      event->AdvanceWeek();
      break;
    case schedule::Monthly:
      event->AdvanceMonth();
      break;
    case schedule::Yearly:
      event->AdvanceYear();
      break;
    default:
      // Never run and never re-armed: left at the head it would be found due
      // again at once, for ever.
      return;
  }
  AddEvent(*event);
}

bool SchedulerHost::RemoveQueued(const EventRef& event) {
  std::lock_guard<std::mutex> g(mutex_);
  auto& events = queue->events;
  for (auto it = events.begin(); it != events.end(); ++it) {
    if (*it == event) {
      events.erase(it);
      return true;
    }
  }
  return false;
}

void SchedulerHost::RunFiredEvent(const schedule::ScheduleEvent& event) {
  config::ScheduleConfig config(this);
  config.MarkCat2Fired(event);
  // The slot of the profile's user event, found as MarkCat2Fired finds it.
  LaunchActivation(config.FindCat2Number(config.ProfileName(event.GetTask())));
}

void SchedulerHost::LaunchActivation(int number) {
  std::string line;
  if (!dmi::ReadAgentClientDirectory(&line)) return;
  line += kActivationText + std::to_string(number);
  if (line.size() >= platform::kPathBufferSize) return;
  dmi::RunCommandAndWait(line);
}

schedule::ScheduleEvent SchedulerHost::NewRecord() {
  schedule::ScheduleEvent record;
  record.SetSourceFile(GetDataFile());
  return record;
}

void SchedulerHost::AddOneTime(std::string task, int32_t year, int32_t month,
                               int32_t dayOfMonth, int32_t hour, int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetOneTime(std::move(task), year, month, dayOfMonth, hour, minute);
  AddEvent(e);
}

void SchedulerHost::AddHourly(std::string task, int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetHourly(std::move(task), minute);
  AddEvent(e);
}

void SchedulerHost::AddDaily(std::string task, int32_t hour, int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetDaily(std::move(task), hour, minute);
  AddEvent(e);
}

void SchedulerHost::AddWeekly(std::string task, int32_t dayOfWeek, int32_t hour,
                              int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetWeekly(std::move(task), dayOfWeek, hour, minute);
  AddEvent(e);
}

void SchedulerHost::AddMonthly(std::string task, int32_t dayOfMonth,
                               int32_t hour, int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetMonthly(std::move(task), dayOfMonth, hour, minute);
  AddEvent(e);
}

void SchedulerHost::AddYearly(std::string task, int32_t month,
                              int32_t dayOfMonth, int32_t hour, int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetYearly(std::move(task), month, dayOfMonth, hour, minute);
  AddEvent(e);
}

void SchedulerHost::AddIrregular(std::string task) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetIrregular(std::move(task));
  AddEvent(e);
}

void SchedulerHost::LoadSchedule() {
  const std::string file = GetDataFile();
  int32_t appended = 0;
  for (int n = 1;; ++n) {
    const std::string section = kScheduleSectionPrefix + std::to_string(n);
    auto text = [&](const char* key) {
      return config::ReadProfileText(file, section, key);
    };
    auto number = [&](const char* key) {
      return config::ReadProfileInt(file, section, key);
    };
    const std::string task = text(schedule::kScheduleTaskKey);
    if (task.empty()) break;
    auto record = std::make_shared<schedule::ScheduleEvent>();
    record->SetSourceFile(file);
    const int32_t frequency = schedule::FrequencyFromWord(
        text("frequency"), schedule::kScheduleFrequencyWords);
    if (!record->SetUp(frequency, task, number("year"), number("month"),
                       number("dayOfMonth"), number("dayOfWeek"),
                       number("hour"), number("minute"))) {
      continue;
    }
    std::lock_guard<std::mutex> g(mutex_);
    queue->events.push_back(std::move(record));
    recordCount = ++appended;
  }
  std::lock_guard<std::mutex> g(mutex_);
  recordCount = appended;
  loadedSections = recordCount;
}

void SchedulerHost::ClearSchedule() {
  const std::string file = GetDataFile();
  int32_t sections;
  {
    std::lock_guard<std::mutex> g(mutex_);
    sections = loadedSections;
  }
  for (int32_t i = 1; i <= sections; ++i) {
    TARNG_WriteProfileString((kScheduleSectionPrefix + std::to_string(i)).c_str(),
                             nullptr, nullptr, file.c_str());
  }
}

void SchedulerHost::SaveSchedule() {
  ClearSchedule();
  std::vector<EventRef> records;
  std::string file;
  {
    std::lock_guard<std::mutex> g(mutex_);
    records = queue->events;
    file = dataFile;
  }
  for (size_t i = 0; i < records.size(); ++i) {
    records[i]->WriteSection(static_cast<int32_t>(i + 1), file);
  }
}

void SchedulerHost::ResetSchedule() {
  std::lock_guard<std::mutex> g(mutex_);
  descriptionCursor = 0;
  recordCount = 0;
  loadedSections = 0;
}

std::string SchedulerHost::NextDescription() {
  std::lock_guard<std::mutex> g(mutex_);
  if (descriptionCursor >= recordCount || descriptionCursor < 0 ||
      static_cast<size_t>(descriptionCursor) >= queue->events.size()) {
    return "";
  }
  return queue->events[descriptionCursor++]->Describe();
}

void SchedulerHost::AppendEvent(const schedule::ScheduleEvent& event) {
  std::lock_guard<std::mutex> g(mutex_);
  queue->events.push_back(std::make_shared<schedule::ScheduleEvent>(event));
  ++recordCount;
}

void SchedulerHost::RemoveEventAt(int index) {
  std::lock_guard<std::mutex> g(mutex_);
  if (index < 0 || static_cast<size_t>(index) >= queue->events.size()) return;
  queue->events.erase(queue->events.begin() + index);
  --recordCount;
}

int32_t SchedulerHost::GetRecordCount() {
  std::lock_guard<std::mutex> g(mutex_);
  return recordCount;
}

}  // namespace engine
