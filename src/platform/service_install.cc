#include "platform/service_install.h"

#include <string>
#include <vector>

#include "platform/service_dispatcher.h"

namespace platform {

namespace {

uint32_t Fail(InstallReport* report, const std::string& what, uint32_t error) {
  report->err = what + ": error " + std::to_string(error) + "\n";
  return error;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The agent's programs append "\KVClient\" and "\tarn.dat" to the folder
// values: a trailing separator would double them. A drive's root keeps its.
std::string WithoutTrailingSeparator(std::string folder) {
  while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

// The named values that are to be written; a missing folder or an unreadable
// value refuses.
uint32_t CheckFolderValues(ServiceSetup& setup, const InstallRequest& request,
                           std::vector<FolderValue>* to_write, InstallReport* report) {
  for (const FolderValue& value : request.values) {
    if (value.folder.empty()) continue;
    const std::string folder = WithoutTrailingSeparator(setup.FullPath(value.folder));
    const std::string label = Quoted(value.value_name);
    if (folder.empty() || !setup.DirectoryExists(folder)) {
      return Fail(report, "folder " + value.folder + " for " + label + " does not exist",
                  kErrorPathNotFound);
    }
    bool exists = false;
    if (const uint32_t error = setup.ValueExists(value.subkey, value.value_name, &exists)) {
      return Fail(report, "reading " + label + " of HKLM\\" + value.subkey, error);
    }
    if (exists && !request.replace) {
      report->out += label + " kept: it is set already (--replace overwrites it)\n";
    } else {
      to_write->push_back({value.subkey, value.value_name, folder});
    }
  }
  return 0;
}

}  // namespace

std::string QuotedBinaryPath(const std::string& program) {
  if (program.empty() || program.find('"') != std::string::npos) return "";
  return Quoted(program);
}

uint32_t InstallService(ServiceSetup& setup, const InstallRequest& request, InstallReport* report) {
  const std::string name = request.service_name;
  // The manager's answer comes first: it tells an existing service and a
  // caller without the right to create one apart, and Linux from Windows.
  if (const uint32_t error = setup.CheckServiceAbsent(request.service_name)) {
    if (error == kErrorServiceExists) {
      return Fail(report, "service " + name + " exists already (uninstall it first)", error);
    }
    return Fail(report, "opening the service control manager to create " + name, error);
  }
  const std::string binary = setup.FullPath(request.binary);
  const std::string binary_path = QuotedBinaryPath(binary);
  if (binary_path.empty()) {
    return Fail(report, "program path " + Quoted(request.binary) + " cannot be quoted",
                kErrorInvalidParameter);
  }
  if (!setup.FileExists(binary)) {
    return Fail(report, "service program " + binary + " not found", kErrorFileNotFound);
  }
  // Every folder and value is looked at before anything is created, so a
  // refusal leaves the machine as it was.
  std::vector<FolderValue> to_write;
  if (const uint32_t error = CheckFolderValues(setup, request, &to_write, report)) return error;

  if (const uint32_t error =
          setup.CreateAutoStartService(request.service_name, request.display_name, binary_path)) {
    return Fail(report, "creating service " + name, error);
  }
  report->out += "service " + name + " created: " + binary_path + "\n";
  if (const uint32_t error = setup.CreateEventSource(request.service_name, binary)) {
    setup.DeleteServiceNamed(request.service_name);
    return Fail(report, "registering event source " + name + " (service removed again)", error);
  }
  report->out += "event source " + name + " registered\n";
  for (const FolderValue& value : to_write) {
    if (const uint32_t error = setup.WriteString(value.subkey, value.value_name, value.folder)) {
      setup.DeleteEventSource(request.service_name);
      setup.DeleteServiceNamed(request.service_name);
      return Fail(report,
                  "writing " + Quoted(value.value_name) + " of HKLM\\" + value.subkey +
                      " (service and event source removed again)",
                  error);
    }
    report->out += Quoted(value.value_name) + " set to " + value.folder + "\n";
  }
  return 0;
}

uint32_t SetAgentValues(ServiceSetup& setup, const InstallRequest& request, InstallReport* report) {
  const std::string binary_path = QuotedBinaryPath(setup.FullPath(request.binary));
  if (!request.binary.empty() && binary_path.empty()) {
    return Fail(report, "program path " + Quoted(request.binary) + " cannot be quoted",
                kErrorInvalidParameter);
  }
  std::vector<FolderValue> to_write;
  if (const uint32_t error = CheckFolderValues(setup, request, &to_write, report)) return error;
  if (!binary_path.empty()) {
    if (const uint32_t error = setup.SetServiceBinaryPath(request.service_name, binary_path)) {
      return Fail(report, "setting the program of service " + std::string(request.service_name),
                  error);
    }
    report->out += "service " + std::string(request.service_name) + " runs " + binary_path + "\n";
  }
  const std::string parameters_key =
      std::string("SYSTEM\\CurrentControlSet\\Services\\") + request.service_name + "\\Parameters";
  for (const ParameterValue& parameter : request.parameters) {
    if (!parameter.data.empty()) {
      to_write.push_back({parameters_key.c_str(), parameter.value_name, parameter.data});
    }
  }
  for (const FolderValue& value : to_write) {
    if (const uint32_t error = setup.WriteString(value.subkey, value.value_name, value.folder)) {
      return Fail(report, "writing " + Quoted(value.value_name) + " of HKLM\\" + value.subkey,
                  error);
    }
    report->out += Quoted(value.value_name) + " set to " + value.folder + "\n";
  }
  return 0;
}

uint32_t UninstallService(ServiceSetup& setup, const char* service_name, InstallReport* report) {
  const std::string name = service_name;
  const uint32_t service_error = setup.DeleteServiceNamed(service_name);
  if (service_error == kErrorServiceDoesNotExist) {
    report->out += "service " + name + " was not installed\n";
  } else if (service_error != 0) {
    // Linux ends here too (kErrorCallNotImplemented), before the event log.
    return Fail(report, "removing service " + name, service_error);
  } else {
    report->out += "service " + name + " removed\n";
  }
  const uint32_t source_error = setup.DeleteEventSource(service_name);
  if (source_error == kErrorFileNotFound) {
    report->out += "event source " + name + " was not registered\n";
  } else if (source_error != 0) {
    return Fail(report, "removing event source " + name, source_error);
  } else {
    report->out += "event source " + name + " removed\n";
  }
  return 0;
}

}  // namespace platform
