// Test support that has to know the OS: scratch folders, registry values,
// child processes. Linked into tests and benchmarks only.
#ifndef SCHEDEXE_PLATFORM_TESTING_H_
#define SCHEDEXE_PLATFORM_TESTING_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::testing {

// A new empty folder for one test, under the system's temporary folder.
// Returns its native path without a trailing separator.
std::string MakeTempDir(const std::string& tag);
// Removes a folder and everything in it.
void RemoveTree(const std::string& native_path);
// The whole file as ReadFileContents reads it; "" when it cannot be read.
std::string FileContents(const std::string& native_path);

// Writes or deletes HKEY_LOCAL_MACHINE\subkey's string value (Windows: the
// real registry; Linux: the registry file named by SCHEDEXE_REGISTRY, which
// must be set). Returns false on failure.
bool SetRegistryString(const std::string& subkey, const std::string& value_name,
                       const std::string& data);
bool DeleteRegistryKey(const std::string& subkey);
// Windows build only: stores the bytes `data` as they stand (string types in
// UTF-16LE, no terminator added) with the Windows value type `type`
// (1 REG_SZ, 2 REG_EXPAND_SZ, 3 REG_BINARY, 4 REG_DWORD), for values no .reg
// file or ANSI call can make.
bool SetRegistryRaw(const std::string& subkey, const std::string& value_name, uint32_t type,
                    const std::string& data);

bool SetEnv(const std::string& name, const std::string& value);
void UnsetEnv(const std::string& name);

// ".exe" on Windows, "" on Linux.
std::string ExeSuffix();
// Native path separator as text.
std::string Sep();

// True in a Windows build running under Wine (which differs from Windows in a
// few details tests must allow for); always false on Linux.
bool RunningUnderWine();

// The processor the calling thread runs on now.
int CurrentProcessor();

// Sends the notice a set of the clock gives, without setting it: Windows
// broadcasts WM_TIMECHANGE to the top-level windows. False where the notice
// comes only with a real set (Linux).
bool AnnounceClockSet();

// True when the named event exists and every user may open and signal it
// (Windows: its security descriptor has a present, null DACL; Linux: its
// shared memory has mode 0666).
bool NamedEventHasNullDacl(const std::string& name);

// Removes what is left of a test's named event once nobody uses it. Linux
// keeps the event's shared memory until it is removed; a Windows event goes
// with its last handle.
#ifdef _WIN32
inline void RemoveNamedEvent(const std::string&) {}
#else
void RemoveNamedEvent(const std::string& name);
#endif

// The same two for a named mutex (Linux: its shared memory lies where an
// event of that name would).
bool NamedMutexHasNullDacl(const std::string& name);
#ifdef _WIN32
inline void RemoveNamedMutex(const std::string&) {}
#else
void RemoveNamedMutex(const std::string& name);
#endif

// Paths that name no regular file, each with what it is, made in the folder
// `dir` where they need making: Linux a FIFO, the device /dev/null and a
// folder; Windows a folder, the device NUL and a named pipe.
struct SpecialFile {
  std::string what;
  std::string path;
};
std::vector<SpecialFile> MakeSpecialFiles(const std::string& dir);

// Lets a reader stuck on the pipe `path` that MakeSpecialFiles made go on:
// Linux opens the FIFO for writing and closes it again, without waiting;
// Windows disconnects the pipe's client. Nothing for other paths.
void ReleasePipeReaders(const std::string& path);

// Runs `work` and says whether it ended within `seconds` on its own. If not,
// the pipes of `files` are released until it ends, so that a reader stuck
// on one goes on and the test fails instead of hanging.
bool EndsUnaided(const std::function<void()>& work, const std::vector<SpecialFile>& files,
                 int seconds = 10);

// A process a test starts, waits for or kills.
class ChildProcess {
 public:
  virtual ~ChildProcess() = default;
  // Starts `program` (native path) with the given arguments, each quoted the
  // Windows way where needed; its standard output and error go to the file
  // `output` (native path) when one is named. nullptr when it cannot start.
  static std::unique_ptr<ChildProcess> Start(const std::string& program,
                                             const std::vector<std::string>& args,
                                             const std::string& output = "");
  // Exit code (-1 when killed by a signal).
  virtual int Wait() = 0;
  // Ends it at once, wherever it is.
  virtual void Kill() = 0;
};

}  // namespace platform::testing

#endif  // SCHEDEXE_PLATFORM_TESTING_H_
