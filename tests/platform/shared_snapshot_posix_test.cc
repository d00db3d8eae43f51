// A publisher that dies leaves its object behind in /dev/shm; with nobody
// holding it, readers find nothing and a new publisher starts afresh.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/program_entry.h"
#include "platform/shared_snapshot.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

TEST(SharedSnapshotPosixTest, ADeadPublishersSnapshotIsAbsent) {
  const std::string name = testsupport::UniqueName("SchedExeSnapshot");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto publisher = SnapshotPublisher::Create(name);
    _exit(publisher && publisher->Publish("left behind") ? 0 : 1);  // as a crash: no clean-up
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  ASSERT_EQ(access(("/dev/shm/schedexe." + name).c_str(), F_OK), 0) << "the object stays";
  std::string bytes;
  uint32_t pid = 0;
  EXPECT_EQ(ReadSnapshot(name, &bytes, &pid), SnapshotStatus::kAbsent);
  auto publisher = SnapshotPublisher::Create(name);
  ASSERT_NE(publisher, nullptr);
  ASSERT_EQ(ReadSnapshot(name, &bytes, &pid), SnapshotStatus::kOk);
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(pid, static_cast<uint32_t>(getpid()));
  publisher.reset();  // removes the object it took over
  EXPECT_NE(access(("/dev/shm/schedexe." + name).c_str(), F_OK), 0);

  // A process that ends the way the service does (no destructors) leaves
  // nothing behind, as the last handle's close does on Windows.
  const pid_t ender = fork();
  ASSERT_GE(ender, 0);
  if (ender == 0) {
    const SnapshotPublisher* kept = SnapshotPublisher::Create(name).release();
    EndProcess(kept ? 0 : 1);
  }
  ASSERT_EQ(waitpid(ender, &status, 0), ender);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(access(("/dev/shm/schedexe." + name).c_str(), F_OK), 0);
}

}  // namespace
}  // namespace platform
