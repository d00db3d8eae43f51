// The schedule text form: a schedule saved by the host loads back unchanged,
// and every queued event describes itself in one line.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "engine/schedule_text_form.h"
#include "kvbase/profile.h"
#include "platform/file.h"
#include "platform/testing.h"
#include "support/engine_fixture.h"

namespace engine {
namespace {

using schedule::ScheduleEvent;

// Now is Wednesday 2027-04-14 10:20 UTC.
class ScheduleTextTest : public testsupport::EngineTest {
 protected:
  ScheduleTextTest() : EngineTest("schedtext") {}
  void SetUp() override {
    EngineTest::SetUp();
    form_ = std::make_unique<ScheduleTextForm>(*host_);
  }

  std::vector<std::string> Descriptions() {
    std::vector<std::string> lines;
    for (std::string line; !(line = form_->NextDescription()).empty();) {
      lines.push_back(line);
    }
    return lines;
  }

  std::unique_ptr<ScheduleTextForm> form_;
};

TEST_F(ScheduleTextTest, SavedScheduleLoadsBackUnchanged) {
  ASSERT_TRUE(time_->Run([this] {
    form_->AddOneTime("1", 2027, 12, 24, 18, 5);
    form_->AddHourly("2", 45);
    form_->AddDaily("3", 23, 5);
    form_->AddWeekly("4", 3, 9, 30);
    form_->AddMonthly("5", 20, 8, 0);
    form_->AddYearly("6", 12, 31, 7, 45);
  }));
  ASSERT_TRUE(time_->RunFor(5000));  // all due later: nothing moves
  ASSERT_EQ(host_->QueueLength(), 6u);
  std::vector<platform::TimeValue> saved;
  for (const auto& e : queue_.events()) saved.push_back(e->GetNextTime());
  form_->SaveSchedule();

  // A fresh queue and host read the file back.
  ASSERT_TRUE(testsupport::TakeDown(host_));
  EventQueue reloaded;
  host_ = std::make_unique<SchedulerHost>(&reloaded);
  form_ = std::make_unique<ScheduleTextForm>(*host_);
  form_->LoadSchedule();
  EXPECT_EQ(form_->GetRecordCount(), 6);
  std::vector<platform::TimeValue> loaded;
  for (const auto& e : reloaded.events()) {
    loaded.push_back(e->GetNextTime());
    EXPECT_EQ(e->GetSourceFile(), data_.data_file());
  }
  EXPECT_EQ(loaded, saved);
  EXPECT_EQ(
      Descriptions(),
      (std::vector<std::string>{
          "Hourly event: 2 at 45 minutes", "Daily event: 3 at 23:5",
          "Monthly event: 5 on the 20 of the month at 8:0", "Weekly event: 4 on Tuesday at 9:30",
          "Onetime event: 1 12/24/2027 at 18:5", "Yearly event: 6 on 12/31 at 7:45"}));
  EXPECT_EQ(form_->NextDescription(), "");
  // Its dispatcher reads the queue: it ends before the queue does.
  EXPECT_TRUE(testsupport::TakeDown(host_));
}

TEST_F(ScheduleTextTest, LoadingStopsAtTheFirstSectionWithoutATask) {
  data_.Write("[schedEvent2]\ntask=9\nfrequency=daily\nhour=1\n");
  form_->LoadSchedule();
  EXPECT_EQ(form_->GetRecordCount(), 0);
  EXPECT_EQ(form_->NextDescription(), "");

  data_.Write(
      "[schedEvent1]\ntask=1\nfrequency=WEEKLY\ndayOfWeek=2\nhour=9\nminute=30\n"
      "[schedEvent2]\ntask=2\nfrequency=fortnightly\n"
      "[schedEvent3]\ntask=3\nfrequency=Irregular\n"
      "[schedEvent5]\ntask=5\nfrequency=daily\n");
  form_->LoadSchedule();
  EXPECT_EQ(form_->GetRecordCount(), 2);
  EXPECT_EQ(Descriptions(),
            (std::vector<std::string>{"Weekly event: 1 on Monday at 9:30", "Irregular event: 3"}));
  EXPECT_EQ(ScheduleEvent::DayName(0), "");
  EXPECT_EQ(ScheduleEvent::DayName(8), "");
}

TEST_F(ScheduleTextTest, SavingClearsTheLoadedSectionsFirst) {
  std::string file;
  for (int i = 1; i <= 5; ++i) {
    file += "[schedEvent" + std::to_string(i) + "]\ntask=" + std::to_string(i) +
            "\nfrequency=hourly\nminute=" + std::to_string(i) + "\n";
  }
  data_.Write(file + "[Other]\nkeep=yes\n");
  form_->LoadSchedule();
  ASSERT_EQ(form_->GetRecordCount(), 5);
  form_->RemoveEventAt(4);
  form_->RemoveEventAt(0);
  form_->RemoveEventAt(7);  // no such record
  EXPECT_EQ(form_->GetRecordCount(), 3);
  form_->SaveSchedule();
  EXPECT_EQ(data_.Read(),
            "[Other]\nkeep=yes\n"
            "[schedEvent1]\ntask=2\nfrequency=hourly\nminute=2\n"
            "[schedEvent2]\ntask=3\nfrequency=hourly\nminute=3\n"
            "[schedEvent3]\ntask=4\nfrequency=hourly\nminute=4\n");
  form_->ResetSchedule();
  EXPECT_EQ(form_->GetRecordCount(), 0);
  EXPECT_EQ(form_->NextDescription(), "");
}

// A save is one whole-file write, with the very bytes that deleting the
// loaded sections and writing the records key by key would leave.
TEST_F(ScheduleTextTest, SavingWritesTheFileOnceWithTheKeyByKeyBytes) {
  ASSERT_TRUE(time_->Run([this] {
    form_->AddOneTime("1", 2027, 12, 24, 18, 5);
    form_->AddWeekly(" 4", 3, 9, 30);
    form_->AddYearly("6", 12, 31, 7, 45);
  }));
  std::string utf16 = "\xFF\xFE";
  for (char c : std::string("[schedEvent1]\r\ntask=x\r\nfrequency=daily\r\n[o]\r\n")) {
    utf16 += {c, '\0'};
  }
  const std::string befores[] = {
      "",  // no file
      "; head\r\n[Other]\r\nx=1\r\n[schedEvent1]\r\ntask=1\r\nfrequency=hourly\r\n\r\n"
      "[schedEvent2]\r\ntask=9\r\nfrequency=irregular\r\n[schedevent1]\r\ntask=dup\r\n\r\n"
      "[SCHEDEVENT4]\r\n  TASK = 4 \r\nminute\r\nfrequency=yearly\r\n\r\n; tail",
      "[schedEvent3]\nx=1",
      utf16,
  };
  const std::string reference = data_.dir() + "\\reference.dat";
  for (const std::string& before : befores) {
    std::remove(data_.native_data_file().c_str());
    if (!before.empty()) data_.Write(before);
    std::ofstream(platform::NativePath(reference), std::ios::binary | std::ios::trunc) << before;
    form_->LoadSchedule();
    for (int32_t i = 1; i <= form_->GetRecordCount(); ++i) {
      TARNG_WriteProfileString(("schedEvent" + std::to_string(i)).c_str(), nullptr, nullptr,
                               reference.c_str());
    }
    const std::vector<EventRef> records = host_->QueuedEvents();
    for (size_t i = 0; i < records.size(); ++i) {
      ScheduleEvent(*records[i]).WriteSection(static_cast<int32_t>(i + 1), reference);
    }
    const uint64_t writes = platform::FileReplacementsForTesting();
    form_->SaveSchedule();
    EXPECT_EQ(platform::FileReplacementsForTesting() - writes, 1u) << before;
    EXPECT_EQ(data_.Read(), platform::testing::FileContents(platform::NativePath(reference)))
        << before;
  }
}

}  // namespace
}  // namespace engine
