// Sends a control to an installed service and prints its status afterwards,
// one field per line (STATE=4 ...). Wine's own sc.exe and net.exe send only
// start and stop; this sends every control the service handles.
// "close-window NAME" closes the hidden window of a foreground run instead;
// "install" and "uninstall" set the service up (service_install_command.h).
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/service_control_client.h"
#include "service_install_command.h"

namespace {

struct Command {
  const char* name;
  uint32_t control;  // 0: query only
};

constexpr Command kCommands[] = {
    {"stop", platform::kControlStop},         {"pause", platform::kControlPause},
    {"continue", platform::kControlContinue}, {"interrogate", platform::kControlInterrogate},
    {"shutdown", platform::kControlShutdown}, {"query", 0},
};

constexpr char kUsage[] =
    "usage: schedexe-control stop|pause|continue|interrogate|shutdown|query NAME\n"
    "       schedexe-control close-window NAME\n"
    "       schedexe-control --help\n";
constexpr char kAbout[] =
    "\n"
    "Sends a control to the installed service NAME and prints its status, one field\n"
    "per line (STATE=4 ...); query only prints it. close-window closes the hidden\n"
    "window of a foreground run whose window class is NAME. Windows only.\n"
    "\n"
    "Exit status: 0 done; the Windows error code of a failed control (1 when there\n"
    "is none); 1 no such window; 2 a usage error, or not on Windows.\n";

int Usage(std::FILE* to = stderr, int exit_code = 2) {
  std::fputs(kUsage, to);
  std::fputs(kInstallUsage, to);
  std::fputs(kAbout, to);
  return exit_code;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    return Usage(stdout, 0);
  }
  if (argc >= 2) {
    const int installed = RunInstallCommand(argc, argv);
    if (installed >= 0) return installed;
  }
  if (argc != 3) return Usage();
  if (std::strcmp(argv[1], "close-window") == 0) {
    uint32_t error = 0;
    if (platform::CloseWindowOfClass(argv[2], &error)) return 0;
    std::fprintf(stderr, "schedexe-control: no window of class %s: error %u\n", argv[2],
                 static_cast<unsigned>(error));
    return 1;
  }
  const Command* command = nullptr;
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) command = &c;
  }
  if (command == nullptr) return Usage();

  platform::ServiceStatus status;
  uint32_t error = 0;
  if (!platform::ControlServiceByName(argv[2], command->control, &status, &error)) {
    if (error == platform::kErrorCallNotImplemented) {
      std::fprintf(stderr, "schedexe-control: Windows only\n");
      return 2;
    }
    std::fprintf(stderr, "schedexe-control: %s %s failed: error %u\n", command->name, argv[2],
                 static_cast<unsigned>(error));
    std::printf("ERROR=%u\n", static_cast<unsigned>(error));
    return error != 0 ? static_cast<int>(error) : 1;
  }
  std::printf("TYPE=%u\n", static_cast<unsigned>(status.service_type));
  std::printf("STATE=%u\n", static_cast<unsigned>(status.current_state));
  std::printf("STATE_NAME=%s\n", platform::ServiceStateName(status.current_state));
  std::printf("CONTROLS=%u\n", static_cast<unsigned>(status.controls_accepted));
  std::printf("WIN32_EXIT_CODE=%u\n", static_cast<unsigned>(status.win32_exit_code));
  std::printf("SERVICE_EXIT_CODE=%u\n", static_cast<unsigned>(status.service_specific_exit_code));
  std::printf("CHECKPOINT=%u\n", static_cast<unsigned>(status.check_point));
  std::printf("WAIT_HINT=%u\n", static_cast<unsigned>(status.wait_hint));
  return 0;
}
