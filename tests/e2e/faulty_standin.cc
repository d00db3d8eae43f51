// Agent programs that misbehave, for the fault tests: each records its call
// in the agent journal as the well-behaved stand-ins do, then
//   hanging-standin   runs until a file "release" appears beside it, or its
//                     folder is removed (at most ten minutes), so a failed
//                     test leaves nothing behind;
//   crashing-standin  dies of an access violation.
#include <string>

#include "agent_journal.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/process_info.h"

namespace {

void HangUntilReleased() {
  const std::string release =
      platform::ExecutableDirectory() + platform::kPathSeparator + "release";
  platform::RealClock clock;
  platform::FileStamp stamp;
  for (int i = 0; i < 6000; ++i) {
    if (!platform::ParentFolderExists(release) ||
        platform::StatFile(release, &stamp) == platform::FileStatus::kOk) {
      return;
    }
    clock.Sleep(100);
  }
}

}  // namespace

int main(int argc, char** argv) {
  AppendJournalLine(platform::OwnCommandLine(argc, argv));
#ifdef SCHEDEXE_STANDIN_CRASHES
  // Both volatile: the compiler may neither fold the pointer nor drop the
  // store (a plain int store through it was dropped, and the program hung).
  volatile int* volatile nowhere = nullptr;
  *nowhere = 1;
#endif
  HangUntilReleased();
  return 0;
}
