// What a started child gets on Linux: its arguments, its Windows command
// line, a clean signal state, none of our descriptors, a session of its own
// when detached; and children not waited for never stay zombies.
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

namespace platform {
namespace {

namespace pt = ::platform::testing;

class ProcessPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = pt::MakeTempDir("process-posix");
    ASSERT_FALSE(dir_.empty());
    out_ = dir_ + "/out";
  }
  void TearDown() override { pt::RemoveTree(dir_); }

  // Runs a shell script through a Windows command line and returns what it
  // wrote to out_.
  std::string Shell(const std::string& script, const std::string& args = "",
                    uint32_t flags = kNormalPriorityClass) {
    const std::string line =
        "/bin/sh -c \"( " + script + " ) > " + out_ + "\" sh" + args;
    EXPECT_TRUE(DefaultEnv().StartProcess(line.c_str(), flags, true)) << line;
    std::ifstream in(out_);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
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
      if (fields >> state >> parent && state == 'Z' && parent == getpid())
        ++count;
    }
    closedir(proc);
    return count;
  }

  std::string dir_, out_;
};

TEST_F(ProcessPosixTest, ChildSeesArgumentsAndCommandLine) {
  EXPECT_EQ(Shell(R"(printf '[%s]' \"$@\")", R"( "a b" "" c\"d e\\f)"),
            R"([a b][][c"d][e\\f])");
  // An inherited command line is replaced by the one sent.
  ASSERT_TRUE(pt::SetEnv("SCHEDEXE_CMDLINE", "stale"));
  const std::string line =
      "/bin/sh -c \"printf %s \\\"$SCHEDEXE_CMDLINE\\\" > " + out_ + "\"";
  ASSERT_TRUE(
      DefaultEnv().StartProcess(line.c_str(), kNormalPriorityClass, true));
  pt::UnsetEnv("SCHEDEXE_CMDLINE");
  std::ifstream in(out_);
  std::string seen;
  std::getline(in, seen);
  EXPECT_EQ(seen, line);
}

TEST_F(ProcessPosixTest, ChildStartsClean) {
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
      Shell("test -e /proc/self/fd/" + std::to_string(fd) +
            " && echo inherited || echo closed");
  close(fd);
  sigaction(SIGUSR2, &old_action, nullptr);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  EXPECT_EQ(fd_state, "closed\n");
  ASSERT_TRUE(started);
  std::ifstream status(dir_ + "/status");
  // Signal sets as hex masks; only the classic signals 1 to 31 count (glibc
  // keeps its own real-time signals ignored in a spawned child until exec).
  std::string line;
  unsigned long long blocked = ~0ull, ignored = ~0ull;
  while (std::getline(status, line)) {
    if (line.rfind("SigBlk:", 0) == 0)
      blocked = std::stoull(line.substr(7), nullptr, 16);
    if (line.rfind("SigIgn:", 0) == 0)
      ignored = std::stoull(line.substr(7), nullptr, 16);
  }
  EXPECT_EQ(blocked & 0x7FFFFFFF, 0u);
  EXPECT_EQ(ignored & 0x7FFFFFFF, 0u);

  // Field 6 of /proc/PID/stat is the session.
  const std::string session = "cut -d' ' -f6 /proc/$$/stat";
  EXPECT_EQ(Shell(session), std::to_string(getsid(0)) + "\n");
  const std::string detached =
      Shell(session + "; echo $$", "", kDetachedProcess);
  std::istringstream lines(detached);
  std::string sid, pid;
  lines >> sid >> pid;
  EXPECT_EQ(sid, pid) << "a detached child leads a session of its own";
}

TEST_F(ProcessPosixTest, ProgramsThatCannotRunAreNotStarted) {
  auto make = [&](const std::string& name, const std::string& text,
                  mode_t mode) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path) << text;
    chmod(path.c_str(), mode);
    return path;
  };
  Env& env = DefaultEnv();
  EXPECT_FALSE(
      env.StartProcess(make("plain", "#!/bin/sh\n", 0644).c_str(), 0, true));
  EXPECT_FALSE(env.StartProcess(
      make("nointerp", "#!/no/such/shell\n", 0755).c_str(), 0, true));
  EXPECT_FALSE(env.StartProcess(make("garbage",
                                     "\x7f"
                                     "ELF junk",
                                     0755)
                                    .c_str(),
                                0, false));
  EXPECT_FALSE(env.StartProcess(dir_.c_str(), 0, true));
  EXPECT_TRUE(env.StartProcess(
      make("script", "#!/bin/sh\nexit 3\n", 0755).c_str(), 0, true))
      << "a program that runs and fails was still started";
}

TEST_F(ProcessPosixTest, ChildrenNotWaitedForAreReaped) {
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(
        DefaultEnv().StartProcess("/bin/true", kDetachedProcess, false));
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
