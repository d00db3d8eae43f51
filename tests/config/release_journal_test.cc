// The release of a deleted profile and the marking of a fired event, run
// against real DmiSetValue processes: what reaches the agent is checked in
// the stand-in's journal, byte for byte and in order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/schedule_config.h"
#include "dmi/dmi_commands.h"
#include "platform/file.h"
#include "platform/testing.h"
#include "support/data_dir.h"
#include "support/fake_env.h"
#include "support/journal.h"
#include "support/scoped_globals.h"

namespace config {
namespace {

TEST(ReleaseJournalTest, EveryCommandReachesTheAgentInOrder) {
  testsupport::FakeEnv env;
  env.run_processes = true;
  testsupport::DataDir data(env, "journal");
  const std::string journal = platform::NativePath(data.dir() + "\\journal.log");
  testsupport::ScopedEnv journal_env("AGENT_JOURNAL", journal.c_str());
  ASSERT_TRUE(testsupport::InstallStandIn(
      "DmiSetValue", platform::NativePath(data.dir() + "\\KVClient")));
  data.Write(
      "[EventCat2 List]\nNumber of Cat2 Events=2\nCat2:1=Backup\nCat2:2=Report\n"
      "[Scheduler Profiles]\nNumber of Profiles=2\n"
      "[Scheduler Profile 2]\nName=report\nState=Delete\n"
      "[Scheduler Profile 1]\nName=Backup\nState=Active\n");

  ScheduleConfig config(nullptr);
  config.ReleaseDeletedProfile("2");
  schedule::ScheduleEvent fired;
  fired.SetDaily("1", 9, 0);
  config.MarkCat2Fired(fired);

  std::vector<std::string> texts = {dmi::Cat2ResponseCountCommand(2, 0)};
  for (int k = 1; k <= 12; ++k) texts.push_back(dmi::Cat2ResponseUnusedCommand(2, k));
  texts.insert(texts.end(),
               {dmi::Cat2ListEntryUnusedCommand(2), dmi::Cat2ListCountCommand(1),
                dmi::Cat2ListLastEventClearCommand(),
                dmi::ProfileListEntryUnusedCommand(2), dmi::ProfileCountCommand(1),
                dmi::ProfileNameUnusedCommand(2), dmi::ProfileStateUnusedCommand(2),
                dmi::Cat2FiredCommand(1), dmi::GeneralFiredCommand(),
                dmi::kSynchCommand});
  std::vector<std::string> want;
  for (const std::string& text : texts) want.push_back(data.client_dir() + text);
  EXPECT_EQ(testsupport::ReadJournalCommands(journal), want);

  const std::string file = data.Read();
  EXPECT_NE(file.find("Number of Cat2 Events=1\n"), std::string::npos);
  EXPECT_NE(file.find("Number of Profiles=1\n"), std::string::npos);
  EXPECT_NE(file.find("[Event Cat2:1]\nEvent Status=True\n"), std::string::npos);
}

}  // namespace
}  // namespace config
