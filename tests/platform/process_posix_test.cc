// What a started child gets on Linux: its arguments, a clean signal state,
// none of our descriptors, a session of its own when detached; and children
// not waited for never stay zombies. (Its command line, even with a stale one
// inherited, is proven by the agent stand-in in process_test.cc.)
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/env.h"
#include "platform/testing.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

namespace pt = ::platform::testing;

class ProcessPosixTest : public ::testing::Test {
 protected:
  // Runs a shell script through a Windows command line, `args` after it, and
  // returns what it wrote to out_.
  std::string Shell(const std::string& script, const std::string& args = "",
                    uint32_t flags = kNormalPriorityClass) {
    const std::string line = "/bin/sh -c \"( " + script + " ) > " + out_ + "\" sh" + args;
    EXPECT_TRUE(DefaultEnv().StartProcess(line.c_str(), flags, true)) << line;
    return pt::FileContents(out_);
  }

  static int Zombies() {
    int count = 0;
    DIR* proc = opendir("/proc");
    while (dirent* entry = readdir(proc)) {
      std::ifstream in(std::string("/proc/") + entry->d_name + "/stat");
      std::string stat;
      if (!std::getline(in, stat)) continue;
      std::istringstream fields(stat.substr(stat.rfind(')') + 1));
      char state;
      int parent;
      if (fields >> state >> parent && state == 'Z' && parent == getpid()) ++count;
    }
    closedir(proc);
    return count;
  }

  testsupport::ScratchDir scratch_{"process-posix"};
  const std::string& dir_ = scratch_.dir();
  const std::string out_ = dir_ + "/out";
};

TEST_F(ProcessPosixTest, ChildGetsItsArgumentsAndStartsClean) {
  // The arguments split as a Microsoft C runtime program would see them.
  EXPECT_EQ(Shell(R"(printf '[%s]' \"$@\")", R"( "a b" "" c\"d e\\f)"), R"([a b][][c"d][e\\f])");

  // Blocked or ignored signals and open descriptors of ours do not reach the
  // child. cp copies its own status; a shell would reset the signal mask.
  sigset_t block, old;
  sigemptyset(&block);
  sigaddset(&block, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &block, &old);
  struct sigaction ignore = {}, old_action;
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGUSR2, &ignore, &old_action);
  const int fd = open("/dev/null", O_RDONLY);  // no O_CLOEXEC on purpose
  ASSERT_GE(fd, 0);
  const std::string copy = "/bin/cp /proc/self/status " + dir_ + "/status";
  const bool started = DefaultEnv().StartProcess(copy.c_str(), 0, true);
  const std::string fd_state =
      Shell("test -e /proc/self/fd/" + std::to_string(fd) + " && echo inherited || echo closed");
  close(fd);
  sigaction(SIGUSR2, &old_action, nullptr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  EXPECT_EQ(fd_state, "closed\n");
  ASSERT_TRUE(started);
  std::ifstream status(dir_ + "/status");
  // Signal sets as hex masks; only the classic signals 1 to 31 count (glibc
  // keeps its own real-time signals ignored in a spawned child until exec).
  int masks = 0;
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("SigBlk:", 0) != 0 && line.rfind("SigIgn:", 0) != 0) continue;
    ++masks;
    EXPECT_EQ(std::stoull(line.substr(7), nullptr, 16) & 0x7FFFFFFF, 0u) << line;
  }
  EXPECT_EQ(masks, 2);

  // Field 6 of /proc/PID/stat is the session.
  const std::string session = "cut -d' ' -f6 /proc/$$/stat";
  EXPECT_EQ(Shell(session), std::to_string(getsid(0)) + "\n");
  const std::string detached = Shell(session + "; echo $$", "", kDetachedProcess);
  std::istringstream lines(detached);
  std::string sid, pid;
  lines >> sid >> pid;
  EXPECT_EQ(sid, pid) << "a detached child leads a session of its own";
}

TEST_F(ProcessPosixTest, ProgramsThatCannotRunAreNotStarted) {
  const struct {
    const char* name;
    const char* text;
    bool wait, started;
  } programs[] = {{"nointerp", "#!/no/such/shell\n", true, false},
                  {"garbage", "\177ELF junk", false, false},
                  // A program that runs and fails was still started.
                  {"script", "#!/bin/sh\nexit 3\n", true, true}};
  for (const auto& p : programs) {
    const std::string path = dir_ + "/" + p.name;
    std::ofstream(path) << p.text;
    chmod(path.c_str(), 0755);
    EXPECT_EQ(DefaultEnv().StartProcess(path.c_str(), 0, p.wait), p.started) << p.name;
  }
}

TEST_F(ProcessPosixTest, ChildrenNotWaitedForAreReaped) {
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(DefaultEnv().StartProcess("/bin/true", kDetachedProcess, false));
  }
  int zombies = Zombies();
  for (int i = 0; i < 100 && zombies > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    zombies = Zombies();
  }
  EXPECT_EQ(zombies, 0);
}

}  // namespace
}  // namespace platform
