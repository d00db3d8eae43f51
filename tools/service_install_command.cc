#include "service_install_command.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "config/data_file_path.h"
#include "dmi/agent_client_directory.h"
#include "platform/process_info.h"
#include "platform/service_dispatcher.h"
#include "platform/service_install.h"

const char kInstallUsage[] =
    "       schedexe-control install [--ttx-path DIR] [--data-path DIR] [--replace]\n"
    "                                [--binary PATH]\n"
    "       schedexe-control uninstall\n"
    "       schedexe-control set-agent-values [--ttx-path DIR] [--data-path DIR]\n"
    "                                [--log-file FILE] [--log-level LEVEL]\n"
    "                                [--service-program PATH]\n"
    "install creates the service schedExe (own process, automatic start) running\n"
    "PATH (default: schedExe.exe beside this program), registers it as event\n"
    "source, and sets \"TTX Path\" (--ttx-path) and \"DatsPath\" (--data-path) where\n"
    "they are not set yet, or always with --replace. It refuses, changing nothing,\n"
    "when the service exists already (error 1073) or a folder is missing.\n"
    "uninstall removes the service and its event source; the agent's values stay.\n"
    "set-agent-values is the installer package's step: it sets \"TTX Path\" and\n"
    "\"DatsPath\" where they are not set yet, and LogFile and LogLevel of the\n"
    "service's Parameters, and makes the service's command line PATH in quotes;\n"
    "an empty value is left alone.\n"
    "Exit: 0 done, 1 a step failed, 2 wrong arguments or not Windows.\n";

namespace {

constexpr char kServiceName[] = "schedExe";
constexpr char kDisplayName[] = "Agent Scheduler (schedExe)";

int UsageError(const char* what) {
  std::fprintf(stderr, "schedexe-control: %s\nusage:\n%s", what, kInstallUsage);
  return 2;
}

int Finish(uint32_t error, const platform::InstallReport& report) {
  std::fputs(report.out.c_str(), stdout);
  if (error == platform::kErrorCallNotImplemented) {
    std::fprintf(stderr, "schedexe-control: Windows only\n");
    return 2;
  }
  if (error != 0) std::fprintf(stderr, "schedexe-control: %s", report.err.c_str());
  return error == 0 ? 0 : 1;
}

// An installer passes its properties as they are, empty ones too.
int SetAgentValuesCommand(int argc, char** argv) {
  std::string ttx_path;
  std::string data_path;
  std::string log_file;
  std::string log_level;
  platform::InstallRequest request;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    std::string* target = option == "--ttx-path"          ? &ttx_path
                          : option == "--data-path"       ? &data_path
                          : option == "--log-file"        ? &log_file
                          : option == "--log-level"       ? &log_level
                          : option == "--service-program" ? &request.binary
                                                          : nullptr;
    if (target == nullptr) return UsageError(("unknown option " + option).c_str());
    if (i + 1 == argc) return UsageError((option + " needs a value").c_str());
    *target = argv[++i];
  }
  request.service_name = kServiceName;
  request.values = {{dmi::kAgentKey, dmi::kAgentPathValue, ttx_path},
                    {config::kDataDirectoryKey, config::kDataDirectoryValue, data_path}};
  request.parameters = {{"LogFile", log_file}, {"LogLevel", log_level}};
  platform::InstallReport report;
  return Finish(platform::SetAgentValues(platform::DefaultServiceSetup(), request, &report),
                report);
}

}  // namespace

int RunInstallCommand(int argc, char** argv) {
  platform::InstallReport report;
  if (std::strcmp(argv[1], "uninstall") == 0) {
    if (argc != 2) return UsageError("uninstall takes no arguments");
    return Finish(
        platform::UninstallService(platform::DefaultServiceSetup(), kServiceName, &report), report);
  }
  if (std::strcmp(argv[1], "set-agent-values") == 0) return SetAgentValuesCommand(argc, argv);
  if (std::strcmp(argv[1], "install") != 0) return -1;

  platform::InstallRequest request;
  request.service_name = kServiceName;
  request.display_name = kDisplayName;
  request.binary = platform::ExecutableDirectory() + platform::kPathSeparator + "schedExe.exe";
  std::string ttx_path;
  std::string data_path;
  for (int i = 2; i < argc; ++i) {
    const std::string option = argv[i];
    std::string* target = option == "--ttx-path"    ? &ttx_path
                          : option == "--data-path" ? &data_path
                          : option == "--binary"    ? &request.binary
                                                    : nullptr;
    if (option == "--replace") {
      request.replace = true;
    } else if (target == nullptr) {
      return UsageError(("unknown option " + option).c_str());
    } else if (i + 1 == argc || argv[i + 1][0] == '\0') {
      return UsageError((option + " needs a value").c_str());
    } else {
      *target = argv[++i];
    }
  }
  request.values = {{dmi::kAgentKey, dmi::kAgentPathValue, ttx_path},
                    {config::kDataDirectoryKey, config::kDataDirectoryValue, data_path}};
  return Finish(platform::InstallService(platform::DefaultServiceSetup(), request, &report),
                report);
}
