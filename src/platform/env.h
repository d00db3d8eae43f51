// The OS calls whose results decide the system's behaviour and that tests
// replace: registry reads and process starts. A test installs its own Env;
// everything else reaches the OS through the real one.
#ifndef SCHEDEXE_PLATFORM_ENV_H_
#define SCHEDEXE_PLATFORM_ENV_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

enum class RegistryStatus {
  kOk,
  kNoKey,       // the key does not open
  kUnreadable,  // the key opens, the value is missing, not a string or too long
};

// Creation flags of a process start, with their Windows values.
constexpr uint32_t kDetachedProcess = 0x00000008;
constexpr uint32_t kNormalPriorityClass = 0x00000020;

// What became of a process start, for the log.
struct ProcessOutcome {
  bool exit_code_known = false;  // the process was waited for and its code read
  uint32_t exit_code = 0;
  // Linux: the signal that ended it (exit_code is then 128 plus it, as
  // shells report it); 0 when it exited. Windows has no signals.
  uint32_t signal = 0;
  uint32_t error = 0;  // the OS error of a start that failed (0: unknown)
};

class Env {
 public:
  virtual ~Env() = default;

  // Reads the string value `value_name` of HKEY_LOCAL_MACHINE\`subkey` into
  // `buffer` of `size` bytes, NUL-terminated. A value that does not fit whole,
  // terminator included, is refused (kUnreadable), never cut. On any failure
  // the buffer holds the empty text.
  virtual RegistryStatus ReadRegistryString(const char* subkey, const char* value_name,
                                            char* buffer, size_t size) = 0;
  // Why every registry read fails, when the registry as a whole cannot be
  // read (the Linux registry file missing or garbled), as a sentence for an
  // operator; empty when it can, or when this Env cannot tell.
  virtual std::string RegistryProblem() { return std::string(); }

  // Starts a Windows command line with no application name, as
  // CreateProcessA(NULL, command_line, ...) does, with the given creation
  // flags, inheriting environment and current directory. When `wait`, blocks
  // without limit until the process ends. True when the process started.
  virtual bool StartProcess(const char* command_line, uint32_t creation_flags, bool wait) = 0;

  // StartProcess that also tells, in *outcome, why a start failed and the
  // exit code of a process it waited for. Starts and waits exactly as
  // StartProcess; an Env that knows no more calls StartProcess.
  virtual bool StartProcessWithOutcome(const char* command_line, uint32_t creation_flags, bool wait,
                                       ProcessOutcome* outcome);
};

// The OS backend of this build.
Env& DefaultEnv();
// The Env the system uses: DefaultEnv() unless a test installed another.
Env& SystemEnv();
// Installs `env` (nullptr restores the default). Tests only.
void SetSystemEnvForTesting(Env* env);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_ENV_H_
