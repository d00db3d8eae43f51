// The Linux named event: open to every user, usable from its first byte, and
// unharmed by processes that die while they use it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/named_event.h"
#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

class NamedEventPosixTest : public ::testing::Test {
 protected:
  ~NamedEventPosixTest() override { pt::RemoveNamedEvent(name_); }

  // Runs `body` in a forked child; returns its pid.
  template <typename Body>
  pid_t Fork(Body body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    return pid;
  }
  static int Reap(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string name_ = testsupport::UniqueName("SchedExeTest-posix");
};

TEST_F(NamedEventPosixTest, OpenToEveryUserFromTheStart) {
  const mode_t old = umask(077);
  auto event = NamedEvent::Create(name_.c_str());
  umask(old);
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(pt::NamedEventHasNullDacl(name_)) << "mode 0666 whatever the umask";
  EXPECT_EQ(NamedEvent::Create("a/b"), nullptr);
  EXPECT_EQ(NamedEvent::Open(""), nullptr);

  // An object whose creator has not sized and held it yet (or died first)
  // is no event to open, and a new unsignalled one to create.
  const std::string fresh = name_ + "-fresh";
  const int fd = shm_open(("/schedexe." + fresh).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(NamedEvent::Open(fresh.c_str()), nullptr);
  auto created = NamedEvent::Create(fresh.c_str());
  pt::RemoveNamedEvent(fresh);
  ASSERT_NE(created, nullptr);
  EXPECT_FALSE(created->Wait(0));
  created->Set();
  EXPECT_TRUE(created->Wait(0));
}

TEST_F(NamedEventPosixTest, ProcessesThatDieLeaveItWorking) {
  auto event = NamedEvent::Create(name_.c_str());
  ASSERT_NE(event, nullptr);
  const std::string name = name_;

  // A waiter killed in its wait neither blocks nor swallows later signals.
  const pid_t waiter =
      Fork([&] { return NamedEvent::Open(name.c_str())->Wait(0xFFFFFFFFu) ? 0 : 1; });
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  kill(waiter, SIGKILL);
  EXPECT_EQ(Reap(waiter), -1);
  event->Set();
  EXPECT_TRUE(event->Wait(0));

  // Killed anywhere in Set or Wait, at full speed.
  for (int round = 0; round < 5; ++round) {
    const pid_t busy = Fork([&] {
      auto e = NamedEvent::Open(name.c_str());
      for (;;) {
        e->Set();
        e->Wait(0);
      }
      return 0;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    kill(busy, SIGKILL);
    Reap(busy);
  }
  event->Wait(0);
  EXPECT_FALSE(event->Wait(0));
  event->Set();
  EXPECT_TRUE(event->Wait(0));

  // Another process takes the signal: it is gone for us.
  event->Set();
  const pid_t taker = Fork([&] { return NamedEvent::Open(name.c_str())->Wait(5000) ? 0 : 1; });
  EXPECT_EQ(Reap(taker), 0);
  EXPECT_FALSE(event->Wait(0));

  // Its only holder killed with it signalled: it is gone with that process.
  event.reset();
  const pid_t holder = Fork([&] {
    NamedEvent::Create(name.c_str()).release()->Set();
    for (;;) pause();
    return 0;
  });
  for (int i = 0; i < 5000 && !NamedEvent::Open(name.c_str()); ++i) usleep(1000);
  kill(holder, SIGKILL);
  Reap(holder);
  EXPECT_EQ(NamedEvent::Open(name.c_str()), nullptr);
  EXPECT_FALSE(NamedEvent::Create(name.c_str())->Wait(0));
}

}  // namespace
}  // namespace platform
