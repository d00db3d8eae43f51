// The Linux Env: the registry is a .reg file, processes start from Windows
// command lines.
#include "platform/env.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/posix/command_line.h"
#include "platform/posix/registry_file.h"
#include "platform/thread.h"

extern char** environ;

namespace platform {

namespace {

constexpr char kCommandLineVariable[] = "SCHEDEXE_CMDLINE=";

// The exit status of the child, as a Windows exit code: its exit code, or
// for a signal 128 plus its number, as shells report it (the signal itself
// in *signal_number).
bool WaitForExit(pid_t pid, uint32_t* exit_code = nullptr, uint32_t* signal_number = nullptr) {
  int status;
  pid_t r;
  while ((r = waitpid(pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (r != pid || !exit_code) return false;
  if (WIFEXITED(status)) {
    *exit_code = static_cast<uint32_t>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    *exit_code = 128u + static_cast<uint32_t>(WTERMSIG(status));
    if (signal_number) *signal_number = static_cast<uint32_t>(WTERMSIG(status));
  } else {
    return false;
  }
  return true;
}

class PosixEnv final : public Env {
 public:
  RegistryStatus ReadRegistryString(const char* subkey, const char* value_name, char* buffer,
                                    size_t size) override {
    if (buffer && size > 0) buffer[0] = '\0';
    posix::RegistryFile file;
    if (!posix::LoadRegistryFile(posix::RegistryFilePath(), &file)) {
      return RegistryStatus::kNoKey;
    }
    std::string path = "HKEY_LOCAL_MACHINE";
    if (subkey && *subkey) path += std::string("\\") + subkey;
    const posix::RegistryKey* key = file.FindKey(path);
    if (!key) return RegistryStatus::kNoKey;
    const posix::RegistryValue* value = key->Find(value_name ? value_name : "");
    if (!value || !value->is_string) return RegistryStatus::kUnreadable;
    // Refused whole rather than cut: a cut path would name the wrong place.
    if (!buffer || value->text.size() + 1 > size) return RegistryStatus::kUnreadable;
    std::memcpy(buffer, value->text.c_str(), value->text.size() + 1);
    return RegistryStatus::kOk;
  }

  std::string RegistryProblem() override {
    posix::RegistryFile file;
    std::string error;
    return posix::LoadRegistryFile(posix::RegistryFilePath(), &file, &error) ? std::string()
                                                                             : error;
  }

  bool StartProcess(const char* command_line, uint32_t creation_flags, bool wait) override {
    ProcessOutcome outcome;
    return StartProcessWithOutcome(command_line, creation_flags, wait, &outcome);
  }

  bool StartProcessWithOutcome(const char* command_line, uint32_t creation_flags, bool wait,
                               ProcessOutcome* outcome) override {
    *outcome = ProcessOutcome();
    outcome->error = ENOENT;
    if (!command_line) return false;
    posix::ResolvedCommand command;
    if (!posix::ResolveCommandLine(command_line, &command)) return false;

    std::vector<char*> argv;
    for (std::string& arg : command.argv) argv.push_back(arg.data());
    argv.push_back(nullptr);

    // The child reads its Windows command line back from the environment.
    std::string own_line = std::string(kCommandLineVariable) + command_line;
    std::vector<char*> envp;
    for (char** e = environ; *e; ++e) {
      if (std::strncmp(*e, kCommandLineVariable, sizeof(kCommandLineVariable) - 1) != 0) {
        envp.push_back(*e);
      }
    }
    envp.push_back(own_line.data());
    envp.push_back(nullptr);

    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    // The child starts with default signal handling and nothing blocked,
    // whatever the service's threads have set up for themselves.
    short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
    if (creation_flags & kDetachedProcess) flags |= POSIX_SPAWN_SETSID;
    posix_spawnattr_setflags(&attr, flags);
    sigset_t signals;
    sigemptyset(&signals);
    posix_spawnattr_setsigmask(&attr, &signals);
    sigfillset(&signals);
    posix_spawnattr_setsigdefault(&attr, &signals);

    // No handle inheritance, as the service starts its commands: a child must
    // not keep the data file's lock or any other descriptor of ours.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);

    pid_t pid;
    // glibc reports a failed exec here (the child runs CLONE_VFORK), so a
    // program that cannot run is a failed start, never a started child.
    const int rc =
        posix_spawn(&pid, command.path.c_str(), &actions, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    outcome->error = static_cast<uint32_t>(rc);
    if (rc != 0) return false;

    if (wait) {
      outcome->exit_code_known = WaitForExit(pid, &outcome->exit_code, &outcome->signal);
    } else {
      // A thread reaps the child. Should none start, the child stays a zombie
      // until we exit: blocking here would break the caller's "do not wait".
      StartDetachedThread([pid] { WaitForExit(pid); });
    }
    return true;
  }
};

}  // namespace

Env& DefaultEnv() {
  static PosixEnv* env = new PosixEnv();  // never destroyed: threads outlive main
  return *env;
}

}  // namespace platform
