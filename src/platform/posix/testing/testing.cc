#include "platform/testing.h"

#include <fcntl.h>
#include <ftw.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/file.h"
#include "platform/posix/named_event.h"
#include "platform/posix/registry_file.h"
#include "platform/thread.h"

extern char** environ;

namespace platform::testing {

namespace {

// Applies `change` to the registry file, as an edit with regedit would. A
// missing file starts empty; a malformed one, or a change the file cannot
// hold, leaves it alone.
template <typename Change>
bool EditRegistry(Change change) {
  const char* path = std::getenv("SCHEDEXE_REGISTRY");
  if (!path || !*path) return false;
  posix::RegistryFile file;
  struct stat st;
  if (stat(path, &st) == 0 && !posix::LoadRegistryFile(path, &file)) return false;
  if (!change(&file)) return false;
  std::string error;
  return ReplaceFileContents(path, file.Format(), &error);
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

class PosixChildProcess final : public ChildProcess {
 public:
  explicit PosixChildProcess(pid_t pid) : pid_(pid) {}
  // Like closing a Windows process handle: the child runs on (and is reaped
  // when it ends).
  ~PosixChildProcess() override {
    if (!reaped_) {
      const pid_t pid = pid_;
      StartDetachedThread([pid] {
        int status;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
      });
    }
  }
  PosixChildProcess(const PosixChildProcess&) = delete;
  PosixChildProcess& operator=(const PosixChildProcess&) = delete;

  int Wait() override {
    if (!reaped_) {
      int status = 0;
      while (waitpid(pid_, &status, 0) < 0) {
        if (errno != EINTR) {
          status = -1;
          break;
        }
      }
      reaped_ = true;
      code_ = status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return code_;
  }

  void Kill() override {
    if (!reaped_) kill(pid_, SIGKILL);
  }

 private:
  const pid_t pid_;
  bool reaped_ = false;
  int code_ = -1;
};

}  // namespace

std::string MakeTempDir(const std::string& tag) {
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp && *tmp ? tmp : "/tmp";
  if (base.size() > 1 && base.back() == '/') base.pop_back();
  std::string clean = tag;
  for (char& c : clean) {
    if (c == '/' || c == '\0') c = '_';
  }
  std::string path = base + "/schedexe-" + clean + "-XXXXXX";
  if (!mkdtemp(path.data())) return "";
  return path;
}

void RemoveTree(const std::string& native_path) {
  if (native_path.empty() || native_path == "/") return;
  nftw(native_path.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<SpecialFile> MakeSpecialFiles(const std::string& dir) {
  std::vector<SpecialFile> files = {
      {"a FIFO", dir + "/fifo"}, {"a device", "/dev/null"}, {"a folder", dir + "/folder"}};
  ::mkfifo(files[0].path.c_str(), 0600);
  ::mkdir(files[2].path.c_str(), 0700);
  return files;
}

void ReleasePipeReaders(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) return;
  const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd >= 0) ::close(fd);
}

bool SetRegistryString(const std::string& subkey, const std::string& value_name,
                       const std::string& data) {
  return EditRegistry([&](posix::RegistryFile* file) {
    return file->SetString("HKEY_LOCAL_MACHINE\\" + subkey, value_name, data);
  });
}

bool DeleteRegistryKey(const std::string& subkey) {
  return EditRegistry([&](posix::RegistryFile* file) {
    file->DeleteKey("HKEY_LOCAL_MACHINE\\" + subkey);
    return true;
  });
}

bool SetEnv(const std::string& name, const std::string& value) {
  return setenv(name.c_str(), value.c_str(), 1) == 0;
}

void UnsetEnv(const std::string& name) { unsetenv(name.c_str()); }

std::string ExeSuffix() { return ""; }

std::string Sep() { return "/"; }

bool RunningUnderWine() { return false; }

int CurrentProcessor() { return ::sched_getcpu(); }

bool AnnounceClockSet() { return false; }

// The Linux counterpart: the event's shared memory is open to every user.
bool NamedEventHasNullDacl(const std::string& name) {
  const std::string object = posix::NamedEventObject(name);
  struct stat st;
  return !object.empty() && stat(("/dev/shm" + object).c_str(), &st) == 0 &&
         (st.st_mode & 0777) == 0666;
}

void RemoveNamedEvent(const std::string& name) {
  const std::string object = posix::NamedEventObject(name);
  if (!object.empty()) shm_unlink(object.c_str());
}

bool NamedMutexHasNullDacl(const std::string& name) { return NamedEventHasNullDacl(name); }

void RemoveNamedMutex(const std::string& name) { RemoveNamedEvent(name); }

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  const std::string& output) {
  // The child rebuilds its Windows command line from this argv.
  std::vector<std::string> argv_text = {program};
  argv_text.insert(argv_text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(argv_text.size() + 1);
  for (std::string& arg : argv_text) argv.push_back(arg.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!output.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  }
  pid_t pid;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return nullptr;
  return std::make_unique<PosixChildProcess>(pid);
}

}  // namespace platform::testing
