// The agent's DmiSetValue: sets one attribute of the agent's DMI tables
// in-process, from the five arguments of its command line, and exits with
// the setter's result. Its command line also goes to the agent journal when
// one is kept, once the set is done, so that a test that sees the line can
// read the table.
#include <cstdio>
#include <string>

#include "agent_journal.h"
#include "dmi/agent_client_directory.h"
#include "dmi/dmi_interface.h"
#include "dmi/dmi_setter.h"
#include "dmi_client.h"
#include "platform/file.h"
#include "platform/process_info.h"

namespace {

constexpr int kUsageError = 2;

// The provider's store when there is none yet (every class is then "not
// found", which would send an operator looking in the wrong place); "" when
// it exists or its place is not known.
std::string MissingStore() {
  std::string path = platform::GetEnvironmentVariable(dmi::kDmiStoreVariable);
  if (path.empty()) {
    if (!dmi::ReadAgentClientDirectory(&path)) return "";
    path += dmi::kDmiStoreFileName;
  }
  path = platform::NativePath(path);
  platform::FileStamp stamp;
  return platform::StatFile(path, &stamp) == platform::FileStatus::kMissing ? path : "";
}

int Set(int argc, char** argv) {
  if (argc != 6) {
    std::fputs(
        "usage: DmiSetValue CLASS-PATH ATTRIBUTE-ID VALUE KEY-LIST TYPE\n"
        "  e.g. DmiSetValue \"CORVANEX|Remote Execution Triggers|\" 16 \"synch\" \"\" 8\n",
        stderr);
    return kUsageError;
  }
  // A half install still sets what it can: without WDMI2API.DLL no language
  // is known and texts go narrow; without dmiapi32.dll registration fails.
  // What is missing only explains a failure.
  std::string missing;
  LoadDmiProvider(&missing);
  std::string failure;
  const int result = dmi::SetDmiAttribute(argv[1], argv[2], argv[3], argv[4], argv[5], &failure);
  if (result != dmi::kSetOk) {
    while (!failure.empty() && failure.back() == '\n') failure.pop_back();
    if (!missing.empty()) failure += " (" + missing + ")";
    if (result == dmi::kSetClassNotFound) {
      if (const std::string store = MissingStore(); !store.empty()) {
        failure = "no DMI store at " + store + " (dmitables install makes one)";
      }
    }
    std::fprintf(stderr, "DmiSetValue: %s\n", failure.c_str());
  }
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  // The caller's thread waits while the provider's works, one command at a
  // time.
  platform::KeepThreadsTogether();
  const int result = Set(argc, argv);
  // Installed for real, it keeps no journal unless one is asked for.
  AppendJournalLine(platform::OwnCommandLine(argc, argv), /*only_if_kept=*/true);
  return result;
}
