// Installing and removing the service as an operator does: the service
// entry, its event source, and the agent's folder values it reads. The OS
// steps sit behind ServiceSetup so that the order and the refusals can be
// tested without touching the machine.
#ifndef SCHEDEXE_PLATFORM_SERVICE_INSTALL_H_
#define SCHEDEXE_PLATFORM_SERVICE_INSTALL_H_

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorPathNotFound = 3;
constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorServiceExists = 1073;

// Every step returns 0 or the Win32 error. Linux has no service control
// manager: the first step fails with kErrorCallNotImplemented.
class ServiceSetup {
 public:
  virtual ~ServiceSetup() = default;
  // Whether a service `name` could be created now: kErrorServiceExists when
  // one exists, the access error when the caller may not create services.
  virtual uint32_t CheckServiceAbsent(const char* name) = 0;
  virtual bool DirectoryExists(const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
  // The absolute form of `path` ("" when it has none).
  virtual std::string FullPath(const std::string& path) = 0;
  // An own-process service that starts automatically; `binary_path` is the
  // command line the manager starts, quoted already.
  virtual uint32_t CreateAutoStartService(const char* name, const char* display_name,
                                          const std::string& binary_path) = 0;
  virtual uint32_t DeleteServiceNamed(const char* name) = 0;
  // Replaces the command line of the existing service `name`.
  virtual uint32_t SetServiceBinaryPath(const char* name, const std::string& binary_path) = 0;
  // The Application log's source `name`, with its messages in `message_file`
  // and every event type (error, warning, information).
  virtual uint32_t CreateEventSource(const char* name, const std::string& message_file) = 0;
  virtual uint32_t DeleteEventSource(const char* name) = 0;
  // HKEY_LOCAL_MACHINE\subkey's value `value_name`; a missing key counts as
  // a missing value.
  virtual uint32_t ValueExists(const char* subkey, const char* value_name, bool* exists) = 0;
  // Writes a REG_SZ value, creating the key when missing; other values stay.
  virtual uint32_t WriteString(const char* subkey, const char* value_name,
                               const std::string& data) = 0;
};

// The OS backend of this build.
ServiceSetup& DefaultServiceSetup();

// One folder value the service reads, written when the operator names it.
struct FolderValue {
  const char* subkey;
  const char* value_name;
  std::string folder;  // "" leaves the value alone
};

// A value of the service's own Parameters key.
struct ParameterValue {
  const char* value_name;
  std::string data;  // "" leaves the value alone
};

struct InstallRequest {
  const char* service_name = "";
  const char* display_name = "";
  std::string binary;  // the service program, as given (made absolute here)
  std::vector<FolderValue> values;
  bool replace = false;  // write values that exist already
  // SetAgentValues only.
  std::vector<ParameterValue> parameters;
};

// What the steps said: `out` for what was done, `err` for the one line of the
// step that failed.
struct InstallReport {
  std::string out;
  std::string err;
};

// Refuses before changing anything when the service exists, the program or
// a named folder is missing; then creates the service, its event source,
// and the named values that are absent (all of them with `replace`). A later
// step that fails takes the service and the event source away again.
// Returns 0 or the Win32 error of the step that failed.
uint32_t InstallService(ServiceSetup& setup, const InstallRequest& request, InstallReport* report);

// What an installer package cannot write itself once the service exists:
// the named folder values that are absent (all of them with `replace`), the
// given Parameters values of the service, which are always written, and,
// when `binary` is given, the service's command line as that program's
// quoted path (Windows Installer's own may be unquoted). Refuses before
// changing anything when a named folder is missing.
uint32_t SetAgentValues(ServiceSetup& setup, const InstallRequest& request, InstallReport* report);

// Removes the service and its event source; the agent's values stay. A part
// already gone is reported, not an error.
uint32_t UninstallService(ServiceSetup& setup, const char* service_name, InstallReport* report);

// The service's binary path for `program`: the path in double quotes, so that
// a blank in it cannot end the program name. "" for a path that cannot be
// quoted (empty, or holding a quote).
std::string QuotedBinaryPath(const std::string& program);

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_SERVICE_INSTALL_H_
