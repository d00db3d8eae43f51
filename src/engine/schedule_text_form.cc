#include "engine/schedule_text_form.h"

#include <memory>
#include <optional>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "config/profile_access.h"
#include "kvbase/file_update.h"
#include "kvbase/profile_text.h"
#include "platform/file.h"

namespace engine {

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

// The schedule file after what a save asks of it: for every DeleteSection
// the first section of that name removed, then for every WriteSection its
// entries written key by key. Each step is done the way one profile write does it (a key updated
// in place keeps its spelling, a new key goes after its section's last
// non-blank line, a new section at the end of the file), but all in one pass
// over one parse: a save costs one read and one write whatever its size.
// False when the file would stay as it is.
class ScheduleFileEdit {
 public:
  explicit ScheduleFileEdit(const std::string& raw)
      : raw_(raw),
        text_(kvbase::ProfileText::Parse(raw)),
        removed_(text_.lines().size(), false),
        needs_line_end_(text_.lines().size(), false),
        inserts_(text_.lines().size()),
        replaced_(text_.lines().size()) {
    line_end_ = text_.LineEnd(raw);
    if (line_end_.empty()) line_end_ = std::string(platform::NativeLineEnd());
  }

  void DeleteSection(const std::string& name) {
    const std::string folded = kvbase::FoldProfileName(name);
    const auto& sections = text_.sections();
    for (size_t i = 0; i < sections.size(); ++i) {
      if (sections[i].folded != folded || gone_.count(i)) continue;
      gone_.insert(i);
      for (size_t l = sections[i].header_line; l < sections[i].end_line; ++l) removed_[l] = true;
      changed_ = true;
      return;
    }
  }

  void WriteSection(const std::string& name, const Entries& entries) {
    const std::string folded = kvbase::FoldProfileName(name);
    const auto& sections = text_.sections();
    for (size_t i = 1; i < sections.size(); ++i) {
      if (sections[i].folded == folded && !gone_.count(i)) {
        for (const auto& [key, value] : entries) SetKey(sections[i], key, Value(value));
        return;
      }
    }
    // A new section at the end; its keys follow one after the other.
    // The file's last line gets its line end first.
    const size_t n = text_.lines().size();
    if (appended_.empty() && n > 0 && !removed_[n - 1] && LacksEnd(n - 1)) {
      needs_line_end_[n - 1] = true;
    }
    std::string add = "[" + name + "]" + line_end_;
    for (const auto& [key, value] : entries) add += key + "=" + Value(value) + line_end_;
    appended_ += text_.Encode(add);
    changed_ = true;
  }

  bool Result(std::string* out) const {
    if (!changed_) return false;
    const auto& lines = text_.lines();
    out->assign(raw_.substr(0, text_.body_start()));
    for (size_t l = 0; l < lines.size(); ++l) {
      if (removed_[l]) continue;
      if (replaced_[l]) {
        out->append(*replaced_[l]);
      } else {
        out->append(raw_.substr(lines[l].begin, lines[l].end - lines[l].begin));
      }
      if (needs_line_end_[l] && !replaced_[l]) out->append(text_.Encode(line_end_));
      out->append(inserts_[l]);
    }
    out->append(appended_);
    // Bytes past the last whole character stay at the very end.
    out->append(raw_.substr(lines.empty() ? text_.body_start() : lines.back().end));
    return true;
  }

 private:
  // Values lose their leading blanks, as in every profile write.
  static std::string Value(const std::string& value) {
    size_t skip = 0;
    while (skip < value.size() && kvbase::IsProfileSpace(static_cast<unsigned char>(value[skip]))) {
      ++skip;
    }
    return value.substr(skip);
  }

  // Whether line l, as edited so far, still ends without a line end (only
  // the file's last line can).
  bool LacksEnd(size_t l) const {
    const kvbase::ProfileLine& line = text_.lines()[l];
    return line.end == line.content_end && !replaced_[l] && !needs_line_end_[l] &&
           inserts_[l].empty();
  }

  void SetKey(const kvbase::ProfileSection& section, const std::string& key,
              const std::string& value) {
    const std::string_view raw(raw_);
    if (const kvbase::ProfileKey* k =
            kvbase::ProfileText::FindKey(section, kvbase::FoldProfileName(key))) {
      if (k->has_value && k->value == value) return;
      // Keep the key as the file spells it, and the blanks around '='.
      const std::string old = text_.DecodeLine(raw, k->line);
      std::string line;
      const size_t eq = old.find('=');
      if (eq == std::string::npos) {
        size_t end = old.size();
        while (end > 0 && kvbase::IsProfileSpace(static_cast<unsigned char>(old[end - 1]))) --end;
        line = old.substr(0, end) + "=";
      } else {
        size_t v = eq + 1;
        while (v < old.size() && kvbase::IsProfileSpace(static_cast<unsigned char>(old[v]))) ++v;
        line = old.substr(0, v == old.size() ? eq + 1 : v);
      }
      const kvbase::ProfileLine& l = text_.lines()[k->line];
      replaced_[k->line] =
          text_.Encode(line + value) +
          (l.end > l.content_end ? std::string(raw.substr(l.content_end, l.end - l.content_end))
                                 : text_.Encode(line_end_));
      changed_ = true;
      return;
    }
    // After the section's last non-blank line (the header at least).
    size_t after = section.header_line;
    for (size_t l = section.end_line; l > section.header_line + 1; --l) {
      if (!kvbase::TrimProfileSpace(text_.DecodeLine(raw, l - 1)).empty()) {
        after = l - 1;
        break;
      }
    }
    if (LacksEnd(after)) needs_line_end_[after] = true;
    inserts_[after] += text_.Encode(key + "=" + value + line_end_);
    changed_ = true;
  }

  const std::string& raw_;
  const kvbase::ProfileText text_;
  std::string line_end_;
  std::set<size_t> gone_;
  std::vector<bool> removed_;
  std::vector<bool> needs_line_end_;
  std::vector<std::string> inserts_;
  std::vector<std::optional<std::string>> replaced_;
  std::string appended_;
  bool changed_ = false;
};

}  // namespace

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

void ScheduleTextForm::ClearSchedule() { Rewrite(false); }

void ScheduleTextForm::SaveSchedule() { Rewrite(true); }

void ScheduleTextForm::Rewrite(bool save) {
  const std::string file = host_.GetDataFile();
  int32_t sections;
  {
    platform::MutexLock lock(mutex_);
    sections = loaded_sections_;
  }
  std::vector<Entries> records;
  if (save) {
    for (const EventRef& record : host_.QueuedEvents()) {
      record->SetSourceFile(file);
      records.push_back(record->SectionEntries());
    }
  }
  auto section = [](size_t n) { return schedule::kScheduleSectionPrefix + std::to_string(n); };
  // One locked read and one write, whatever the number of records.
  kvbase::UpdateFileLocked(
      platform::NativePath(file),
      [&](const std::string& current, bool, std::string* replacement) {
        ScheduleFileEdit edit(current);
        for (int32_t i = 1; i <= sections; ++i) edit.DeleteSection(section(static_cast<size_t>(i)));
        for (size_t i = 0; i < records.size(); ++i) edit.WriteSection(section(i + 1), records[i]);
        return edit.Result(replacement);
      },
      nullptr);
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
