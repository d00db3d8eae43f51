#include "engine/schedule_text_form.h"

#include <memory>
#include <utility>
#include <vector>

#include "config/profile_access.h"
#include "kvbase/profile.h"

namespace engine {

schedule::ScheduleEvent ScheduleTextForm::NewRecord() {
  schedule::ScheduleEvent record;
  record.SetSourceFile(host_.GetDataFile());
  return record;
}

void ScheduleTextForm::AddOneTime(std::string task, int32_t year, int32_t month, int32_t dayOfMonth,
                                  int32_t hour, int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetOneTime(std::move(task), year, month, dayOfMonth, hour, minute);
  host_.AddEvent(e);
}

void ScheduleTextForm::AddHourly(std::string task, int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetHourly(std::move(task), minute);
  host_.AddEvent(e);
}

void ScheduleTextForm::AddDaily(std::string task, int32_t hour, int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetDaily(std::move(task), hour, minute);
  host_.AddEvent(e);
}

void ScheduleTextForm::AddWeekly(std::string task, int32_t dayOfWeek, int32_t hour,
                                 int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetWeekly(std::move(task), dayOfWeek, hour, minute);
  host_.AddEvent(e);
}

void ScheduleTextForm::AddMonthly(std::string task, int32_t dayOfMonth, int32_t hour,
                                  int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetMonthly(std::move(task), dayOfMonth, hour, minute);
  host_.AddEvent(e);
}

void ScheduleTextForm::AddYearly(std::string task, int32_t month, int32_t dayOfMonth, int32_t hour,
                                 int32_t minute) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetYearly(std::move(task), month, dayOfMonth, hour, minute);
  host_.AddEvent(e);
}

void ScheduleTextForm::AddIrregular(std::string task) {
  schedule::ScheduleEvent e = NewRecord();
  e.SetIrregular(std::move(task));
  host_.AddEvent(e);
}

void ScheduleTextForm::LoadSchedule() {
  const std::string file = host_.GetDataFile();
  int32_t appended = 0;
  for (int n = 1;; ++n) {
    const std::string section = schedule::kScheduleSectionPrefix + std::to_string(n);
    auto text = [&](const char* key) { return config::ReadProfileText(file, section, key); };
    auto number = [&](const char* key) { return config::ReadProfileInt(file, section, key); };
    const std::string task = text(schedule::kScheduleTaskKey);
    if (task.empty()) break;
    auto record = std::make_shared<schedule::ScheduleEvent>();
    record->SetSourceFile(file);
    const int32_t frequency = schedule::FrequencyFromWord(text(schedule::kScheduleFrequencyKey),
                                                          schedule::kScheduleFrequencyWords);
    if (!record->SetUp(frequency, task, number(schedule::kScheduleYearKey),
                       number(schedule::kScheduleMonthKey),
                       number(schedule::kScheduleDayOfMonthKey),
                       number(schedule::kScheduleDayOfWeekKey), number(schedule::kScheduleHourKey),
                       number(schedule::kScheduleMinuteKey))) {
      continue;
    }
    host_.AppendUnordered(std::move(record));
    platform::MutexLock lock(mutex_);
    record_count_ = ++appended;
  }
  platform::MutexLock lock(mutex_);
  record_count_ = appended;
  loaded_sections_ = record_count_;
}

void ScheduleTextForm::ClearSchedule() {
  const std::string file = host_.GetDataFile();
  int32_t sections;
  {
    platform::MutexLock lock(mutex_);
    sections = loaded_sections_;
  }
  for (int32_t i = 1; i <= sections; ++i) {
    TARNG_WriteProfileString((schedule::kScheduleSectionPrefix + std::to_string(i)).c_str(),
                             nullptr, nullptr, file.c_str());
  }
}

void ScheduleTextForm::SaveSchedule() {
  ClearSchedule();
  const std::vector<EventRef> records = host_.QueuedEvents();
  const std::string file = host_.GetDataFile();
  for (size_t i = 0; i < records.size(); ++i) {
    records[i]->WriteSection(static_cast<int32_t>(i + 1), file);
  }
}

void ScheduleTextForm::ResetSchedule() {
  platform::MutexLock lock(mutex_);
  description_cursor_ = 0;
  record_count_ = 0;
  loaded_sections_ = 0;
}

std::string ScheduleTextForm::NextDescription() {
  platform::MutexLock lock(mutex_);
  if (description_cursor_ >= record_count_) return "";
  const EventRef record = host_.EventAt(description_cursor_);
  if (!record) return "";
  ++description_cursor_;
  return record->Describe();
}

void ScheduleTextForm::AppendEvent(const schedule::ScheduleEvent& event) {
  host_.AppendUnordered(std::make_shared<schedule::ScheduleEvent>(event));
  platform::MutexLock lock(mutex_);
  ++record_count_;
}

void ScheduleTextForm::RemoveEventAt(int index) {
  if (!host_.RemoveEventAt(index)) return;
  platform::MutexLock lock(mutex_);
  --record_count_;
}

int32_t ScheduleTextForm::GetRecordCount() {
  platform::MutexLock lock(mutex_);
  return record_count_;
}

}  // namespace engine
