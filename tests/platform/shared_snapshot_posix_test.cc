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
  const std::string object = "/dev/shm/schedexe." + name;
  // Runs `body`, which ends the process, in a child; true if it exited with 0.
  const auto in_child = [](auto body) {
    const pid_t child = fork();
    if (child == 0) body();
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
           WEXITSTATUS(status) == 0;
  };
  ASSERT_TRUE(in_child([&] {
    auto publisher = SnapshotPublisher::Create(name);
    _exit(publisher && publisher->Publish("left behind") ? 0 : 1);  // as a crash: no clean-up
  }));
  ASSERT_EQ(access(object.c_str(), F_OK), 0) << "the object stays";
  std::string bytes;
  uint32_t pid = 0;
  EXPECT_EQ(ReadSnapshot(name, &bytes, &pid), SnapshotStatus::kAbsent);
  auto publisher = SnapshotPublisher::Create(name);
  ASSERT_NE(publisher, nullptr);
  ASSERT_EQ(ReadSnapshot(name, &bytes, &pid), SnapshotStatus::kOk);
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(pid, static_cast<uint32_t>(getpid()));
  publisher.reset();  // removes the object it took over
  EXPECT_NE(access(object.c_str(), F_OK), 0);

  // A process that ends the way the service does (no destructors) leaves
  // nothing behind, as the last handle's close does on Windows.
  ASSERT_TRUE(in_child([&] { EndProcess(SnapshotPublisher::Create(name).release() ? 0 : 1); }));
  EXPECT_NE(access(object.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace platform
