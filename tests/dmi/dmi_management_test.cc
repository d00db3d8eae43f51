// The access library against the provider the project ships: the libraries
// beside the tests, a store of the test's own.
#include "dmi/dmi_management.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "dmi/dmi_commands.h"
#include "dmi/dmi_library.h"
#include "dmi/dmi_setter.h"
#include "dmisp/table_store.h"
#include "platform/file.h"
#include "platform/process_info.h"
#include "platform/testing.h"
#include "support/manual_clock.h"
#include "support/scoped_globals.h"
#include "support/scratch_dir.h"
#include "support/source_path.h"

namespace dmi {
namespace {

constexpr char kAgentClass[] = "CORVANEX|Events, Alarms & Responses Creation|";
constexpr char kProfileTable[] =
    "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Scheduler Profile Table|";
constexpr char kTriggers[] = "CORVANEX|Remote Execution Triggers|";

// The provider's DmiInvoke, with a look at each command on its way in.
DmiInvokeFunc real_invoke = nullptr;
std::function<void(const DmiCommandBlock*)> on_invoke;
uint32_t TappedInvoke(DmiCommandBlock* block) {
  if (on_invoke) on_invoke(block);
  return real_invoke(block);
}

// Another writer of the store: holds its writers' lock on a thread of its
// own (a Windows lock is let go only by the thread that took it).
class StoreWriter {
 public:
  explicit StoreWriter(const std::string& store)
      : thread_([this, store] {
          auto lock = platform::FileWriteLock::Acquire(platform::WriteTarget(store), nullptr);
          taken_.set_value(lock != nullptr);
          let_go_.get_future().wait();
        }) {
    EXPECT_TRUE(taken_.get_future().get());
  }
  ~StoreWriter() { LetGo(); }
  void LetGo() {
    if (!thread_.joinable()) return;
    let_go_.set_value();
    thread_.join();
  }

 private:
  std::promise<bool> taken_;
  std::promise<void> let_go_;
  std::thread thread_;
};

// The trigger text as the store file holds it now.
std::string StoredTrigger(const std::string& store) {
  dmisp::Tables tables;
  if (!dmisp::ReadStore(store, &tables, nullptr)) return "(unreadable)";
  for (const dmisp::Component& component : tables.components) {
    for (const dmisp::Group& group : component.groups) {
      if (group.classString.rfind(kTriggers, 0) != 0 || group.rows.empty()) continue;
      const auto value = group.rows[0].values.find(16);
      return value == group.rows[0].values.end() ? "" : value->second;
    }
  }
  return "(no row)";
}

class DmiManagementTest : public ::testing::Test {
 protected:
  DmiManagementTest() {
    testing::ResetDmiLibraryForTesting();
    testing::ResetDmiSetterForTesting();
  }
  ~DmiManagementTest() override {
    if (handle_) slUnregister(handle_);
    testing::ResetDmiSetterForTesting();
    testing::ResetDmiLibraryForTesting();
  }
  void SetUp() override {
    ASSERT_TRUE(LoadDmiLibrary(kInvokeLibraryName));
    ASSERT_EQ(ResolveDmiEntryPoints(DmiLibrary().invokeLibrary), 1);
    ASSERT_EQ(slRegister(&handle_), 1);
  }

  uint32_t Install(const std::string& file) {
    uint32_t id = 0;
    EXPECT_EQ(AddComponent(handle_, testsupport::SourcePath(file), &id), kDmiOk) << file;
    return id;
  }

  // The table of a class path as text: one line a row, cells by "|".
  std::vector<std::string> Table(const char* classPath) {
    uint32_t component = 0;
    uint32_t group = 0;
    EXPECT_EQ(FindComponentGroup(handle_, classPath, &component, &group), 1) << classPath;
    return Table(component, group);
  }
  std::vector<std::string> Table(uint32_t component, uint32_t group) {
    std::vector<RowValues> rows;
    EXPECT_EQ(ReadRows(handle_, component, group, &rows), kDmiOk);
    std::vector<std::string> lines;
    for (const RowValues& row : rows) {
      std::string& line = lines.emplace_back();
      for (const RowValue& value : row)
        line += RowValueText(handle_, component, group, value) + "|";
    }
    return lines;
  }

  testsupport::ScratchDir scratch_{"dmimgmt"};
  testsupport::ScopedEnv store_{"DMI_STORE", scratch_.Path("store.dat").c_str()};
  uint32_t handle_ = 0;
};

TEST_F(DmiManagementTest, ListsReadsAndChangesTheTablesThroughTheProvider) {
  const uint32_t agent = Install("data/agent-tables.dmd");
  const uint32_t wide = Install("tests/dmisp/unicode-component.dmd");

  // The installs raised indications: the cache now knows both components
  // and their languages, so the unicode one's names come back as ANSI.
  std::vector<ComponentInfo> components;
  ASSERT_EQ(ListComponents(handle_, "", &components), kDmiOk);
  ASSERT_EQ(components.size(), 2u);
  EXPECT_EQ(components[1].id, wide);
  EXPECT_EQ(components[1].name, "Unicode Test Component");
  ASSERT_EQ(ListComponents(handle_, kAgentClass, &components), kDmiOk);
  ASSERT_EQ(components.size(), 1u);
  EXPECT_EQ(components[0].id, agent);
  std::string name;
  EXPECT_EQ(GetComponentName(handle_, wide, &name), kDmiOk);
  EXPECT_EQ(name, "Unicode Test Component");
  EXPECT_EQ(GetComponentName(handle_, 999, &name), kDmiComponentNotFound);

  std::vector<GroupInfo> groups;
  ASSERT_EQ(ListGroups(handle_, wide, &groups), kDmiOk);
  ASSERT_EQ(groups.size(), 2u);
  EXPECT_EQ(groups[1].name, "Labels");
  EXPECT_EQ(groups[1].key_count, 1u);
  std::string class_string;
  EXPECT_EQ(GetGroupTexts(handle_, wide, 2, &class_string, &name), kDmiOk);
  EXPECT_EQ(class_string + " " + name, "TEST|Labels|001 Labels");
  std::vector<AttributeInfo> attributes;
  ASSERT_EQ(ListAttributes(handle_, wide, 1, &attributes), kDmiOk);
  ASSERT_EQ(attributes.size(), 2u);
  EXPECT_EQ(attributes[0].name + " " + std::to_string(attributes[0].type), "Manufacturer 8");

  // Rows come back in key order, texts of a unicode component as ANSI; a
  // row added through its keys is read with the others.
  EXPECT_EQ(Table(wide, 1), std::vector<std::string>{"Caf\xE9|3|"});
  EXPECT_EQ(AddRow(handle_, wide, 2, ParseKeyList("A1|c")), kDmiOk);
  EXPECT_EQ(Table("TEST|Labels|"), (std::vector<std::string>{"a|1|", "b|2|", "c|0|"}));

  // A set lands in the row its keys name, and nowhere else.
  EXPECT_EQ(SetDmiAttribute(kProfileTable, "7", "Active", "A1|4", "8"), kSetOk);
  const std::vector<std::string> profiles = Table(kProfileTable);
  ASSERT_EQ(profiles.size(), 13u);
  EXPECT_EQ(profiles[3].substr(profiles[3].rfind('|', profiles[3].size() - 2)), "|Active|");
  EXPECT_EQ(profiles[2].substr(profiles[2].rfind('|', profiles[2].size() - 2)), "|Unused|");

  // Deleting by class takes every component of it; the class is gone.
  int deleted = 0;
  EXPECT_EQ(DeleteComponents(handle_, kAgentClass, &deleted), kDmiOk);
  EXPECT_EQ(deleted, 1);
  EXPECT_EQ(SetDmiAttribute(kProfileTable, "7", "Active", "A1|4", "8"), kSetClassNotFound);
  uint32_t id = 0;
  EXPECT_EQ(AddComponent(handle_, scratch_.Path("missing.dmd"), &id), kDmiBadDescription);
}

TEST_F(DmiManagementTest, ListingsPageThroughMoreThanOneReply) {
  // About 60 bytes a component: a few hundred overflow a 4096-byte reply.
  for (int i = 0; i < 150; ++i) Install("tests/dmisp/unicode-component.dmd");
  std::vector<ComponentInfo> components;
  ASSERT_EQ(ListComponents(handle_, "", &components), kDmiOk);
  ASSERT_EQ(components.size(), 150u);
  for (size_t i = 1; i < components.size(); ++i) {
    EXPECT_LT(components[i - 1].id, components[i].id);
  }
  int deleted = 0;
  EXPECT_EQ(DeleteComponents(handle_, "TEST|", &deleted), kDmiOk);
  EXPECT_EQ(deleted, 150);
  EXPECT_EQ(ListComponents(handle_, "", &components), kDmiOk);
  EXPECT_TRUE(components.empty());
}

// A DmiSetValue command text split into its five arguments (quoted fields
// and bare ones), after the program name.
std::vector<std::string> Arguments(const std::string& command) {
  static const std::regex field("\"([^\"]*)\"|([^ ]+)");
  const std::string text = command.substr(command.find(' '));
  std::vector<std::string> fields;
  for (std::sregex_iterator it(text.begin(), text.end(), field), end; it != end; ++it) {
    fields.push_back((*it)[(*it)[1].matched ? 1 : 2].str());
  }
  return fields;
}

TEST_F(DmiManagementTest, EveryCommandLineOfTheServiceLandsInItsRowAndAttribute) {
  Install("data/agent-tables.dmd");
  std::vector<std::string> commands = {kSynchCommand, Cat2ListLastEventClearCommand(),
                                       Cat2ListUnchangedCommand(), GeneralFiredCommand()};
  for (int n = 0; n <= 12; ++n) {
    commands.insert(commands.end(), {ProfileActiveCommand(n), ProfileDeleteCommand(n + 1),
                                     ProfileNameUnusedCommand(n), ProfileStateUnusedCommand(n),
                                     ProfileListEntryUnusedCommand(n), ProfileCountCommand(n),
                                     Cat2ListEntryUnusedCommand(n), Cat2ListCountCommand(n),
                                     Cat2FiredCommand(n), Cat2ResponseCountCommand(n, 12)});
    for (int k = 1; k <= 12; ++k) commands.push_back(Cat2ResponseUnusedCommand(n, k));
  }
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    const std::vector<std::string> a = Arguments(command);
    ASSERT_EQ(a.size(), 5u);
    ASSERT_EQ(SetDmiAttribute(a[0].c_str(), a[1].c_str(), a[2].c_str(), a[3].c_str(), a[4].c_str()),
              kSetOk);
    // The row the key names (the only row of a group without keys) now
    // holds the value in the attribute the command names.
    uint32_t component = 0;
    uint32_t group = 0;
    ASSERT_EQ(FindComponentGroup(handle_, a[0].c_str(), &component, &group), 1);
    std::vector<RowValues> rows;
    ASSERT_EQ(ReadRows(handle_, component, group, &rows), kDmiOk);
    const std::vector<DmiKeyValue> keys = ParseKeyList(a[3].c_str());
    int found = 0;
    for (const RowValues& row : rows) {
      std::string key;
      std::string cell;
      for (const RowValue& value : row) {
        const std::string text = RowValueText(handle_, component, group, value);
        if (!keys.empty() && value.attribute_id == 1) key = text;
        if (value.attribute_id == static_cast<uint32_t>(std::stoi(a[1]))) cell = text;
      }
      if (!keys.empty() && key != std::to_string(keys[0].number)) continue;
      ++found;
      EXPECT_EQ(cell, a[2]);
    }
    EXPECT_EQ(found, 1);
  }
}

// A set held up behind another writer of the store until the setter gives
// up on it (30 s without a confirm): its cancel takes it back, so a caller
// told that the set failed never finds the value in the store, however long
// the other writer holds on. Only a write made before the cancel arrives
// stands; the setter reports the failure all the same (the one window it
// cannot close).
TEST_F(DmiManagementTest, ASetThatTimesOutIsTakenBackUnlessItsWriteCameFirst) {
  Install("data/agent-tables.dmd");
  slUnregister(handle_);
  handle_ = 0;
  const std::string store = scratch_.Path("store.dat");
  struct Outcome {
    int result;
    int64_t virtual_ms;
    std::string stored;
  };
  const auto run = [&](bool write_before_cancel) {
    testsupport::UtcManualTime time{1'000'000'000};
    testing::ResetDmiSetterForTesting();
    testing::ResetDmiLibraryForTesting();
    LoadDmiLibrary(kInvokeLibraryName);
    EXPECT_EQ(ResolveDmiEntryPoints(DmiLibrary().invokeLibrary), 1);
    real_invoke = reinterpret_cast<DmiInvokeFunc>(DmiLibrary().DmiInvoke);
    DmiLibrary().DmiInvoke = reinterpret_cast<void*>(&TappedInvoke);
    StoreWriter writer(store);
    std::atomic<bool> set_sent{false};
    std::atomic<bool> unregistering{false};
    on_invoke = [&](const DmiCommandBlock* block) {
      if (block->commandCode == kDmiSetAttribute) set_sent = true;
      if (block->commandCode == kDmiUnregister) unregistering = true;
      if (block->commandCode != kDmiCancel || !write_before_cancel) return;
      writer.LetGo();
      for (int i = 0; i < 3000 && StoredTrigger(store) != "late"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    };
    std::atomic<int> result{-1};
    std::thread setter([&] { result = SetDmiAttribute(kTriggers, "16", "late", "", "8"); });
    for (int i = 0; i < 3000 && !set_sent; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(set_sent && time.clock.AwaitTimedWaiters(1));
    time.clock.AdvanceToNextDeadline();
    bool held_up = true;
    if (!write_before_cancel) {
      // The cancel is answered at once; the unregistration behind it waits
      // in the queue until the other writer lets go, ten seconds later.
      // Unless the provider's thread had not yet taken the set (a busy
      // machine): then the cancel takes it off the queue, nothing waits,
      // and the setter is done at once.
      const auto waiting = [&] { return unregistering && time.clock.TimedWaiters() > 0; };
      for (int i = 0; i < 1000 && !waiting() && result < 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      held_up = waiting();
      if (held_up) time.clock.AdvanceSeconds(10);
      writer.LetGo();
    }
    setter.join();
    on_invoke = nullptr;
    const Outcome outcome{result, time.clock.NowMs(), StoredTrigger(store)};
    testing::ResetDmiSetterForTesting();
    testing::ResetDmiLibraryForTesting();
    return held_up ? std::optional<Outcome>(outcome) : std::nullopt;
  };
  std::optional<Outcome> taken_back;
  for (int attempt = 0; attempt < 10 && !taken_back; ++attempt) taken_back = run(false);
  ASSERT_TRUE(taken_back);
  EXPECT_EQ(taken_back->result, kSetFailed);
  EXPECT_EQ(taken_back->virtual_ms, 40000);
  // The provider's thread has gone past the set: the unregistration queued
  // behind it was confirmed.
  EXPECT_EQ(taken_back->stored, "");
  const std::optional<Outcome> written = run(true);
  ASSERT_TRUE(written);
  EXPECT_EQ(written->result, kSetFailed);
  EXPECT_EQ(written->virtual_ms, 30000);
  EXPECT_EQ(written->stored, "late");
}

int RunProgram(const char* program, const std::vector<std::string>& args,
               const std::string& dir = platform::ExecutableDirectory()) {
  namespace pt = platform::testing;
  const auto child = pt::ChildProcess::Start(dir + pt::Sep() + program + pt::ExeSuffix(), args);
  return child ? child->Wait() : -100;
}

// Half an install still sets. Without the registration library no language
// is known: a component of ANSI texts is set as ever, a unicode one's texts
// go out narrow, so a text key names no row. Without dmiapi32.dll nothing
// can be invoked and registration fails at once. As the program, from a
// folder that holds only one of the two libraries and the provider they
// share.
TEST_F(DmiManagementTest, AHalfInstallStillSetsWhatItCan) {
  Install("data/agent-tables.dmd");
  Install("tests/dmisp/unicode-component.dmd");
  // With both libraries, the unicode component's text key names its row.
  testing::ResetDmiSetterForTesting();
  EXPECT_EQ(SetDmiAttribute("TEST|Labels|", "2", "5", "A1|a", "1"), kSetOk);

  namespace fs = std::filesystem;
  const std::string suffix = platform::testing::ExeSuffix();
  for (const char* library : {kInvokeLibraryName, kRegistrationLibraryName}) {
    const std::string dir = scratch_.Path(std::string("only-") + library);
    fs::create_directory(dir);
    for (const std::string& name :
         {"DmiSetValue" + suffix, std::string(library), std::string("dmiprov.dll")}) {
      fs::copy_file(fs::path(platform::ExecutableDirectory()) / name, fs::path(dir) / name);
    }
    const bool invoke = library == std::string(kInvokeLibraryName);
    EXPECT_EQ(RunProgram("DmiSetValue", {kProfileTable, "7", "Active", "A1|4", "8"}, dir),
              invoke ? kSetOk : kSetRegistrationFailed)
        << library;
    EXPECT_EQ(RunProgram("DmiSetValue", {"TEST|Labels|", "2", "7", "A1|a", "1"}, dir),
              invoke ? kSetFailed : kSetRegistrationFailed)
        << library;
  }
}

// The programs as the service and an operator run them: dmitables installs
// the agent's tables, DmiSetValue exits with the setter's result whatever
// text it gets and journals every run.
TEST_F(DmiManagementTest, DmiSetValueAndDmitablesAsProgramsRunThem) {
  const std::string journal = scratch_.Path("journal.log");
  testsupport::ScopedEnv journal_env("AGENT_JOURNAL", journal.c_str());
  ASSERT_EQ(RunProgram("dmitables", {"install", testsupport::SourcePath("data/agent-tables.dmd")}),
            0);
  const std::string table = kProfileTable;
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{table, "7", "Active", "A1|2", "8"}, kSetOk},
      {{"|||||", "", "", "", ""}, kSetClassNotFound},
      {{table, "abc", "x", "A1|2", "8"}, kSetInvalidAttributeId},
      {{table, "7", "x", "A1|2", ""}, kSetUnknownType},
      {{table, "7", "x", "Z9|x|A1", "8"}, kSetFailed},
      {{"a", "b"}, 2}};
  for (const auto& [args, code] : runs) {
    EXPECT_EQ(RunProgram("DmiSetValue", args), code) << args[0] << " " << args[1];
  }
  const std::string lines = platform::testing::FileContents(journal);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), static_cast<std::ptrdiff_t>(runs.size()));
}

}  // namespace
}  // namespace dmi
