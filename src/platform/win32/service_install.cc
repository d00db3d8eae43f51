#include "platform/service_install.h"

#include <windows.h>

#include <string>
#include <vector>

namespace platform {

namespace {

constexpr char kEventLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// Error, warning and information events.
constexpr DWORD kEventTypes =
    EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;

DWORD Attributes(const std::string& path) { return GetFileAttributesA(path.c_str()); }

LONG SetText(HKEY key, const char* name, DWORD type, const std::string& text) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                        static_cast<DWORD>(text.size() + 1));
}

class Win32ServiceSetup final : public ServiceSetup {
 public:
  uint32_t CheckServiceAbsent(const char* name) override {
    // Asking for the right to create tells a caller without it now, before
    // anything is written.
    const SC_HANDLE manager =
        OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) return GetLastError();
    uint32_t error = kErrorServiceExists;
    const SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
    if (service == nullptr) {
      error = GetLastError();
      if (error == ERROR_SERVICE_DOES_NOT_EXIST) error = 0;
    } else {
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
  }

  bool DirectoryExists(const std::string& path) override {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  }

  bool FileExists(const std::string& path) override {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
  }

  std::string FullPath(const std::string& path) override {
    if (path.empty()) return "";
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
      const DWORD length =
          GetFullPathNameA(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
      if (length == 0) return "";
      if (length < buffer.size()) return std::string(buffer.data(), length);
      buffer.resize(length + 1);
    }
  }

  uint32_t CreateAutoStartService(const char* name, const char* display_name,
                                  const std::string& binary_path) override {
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (manager == nullptr) return GetLastError();
    // LocalSystem, no group, no dependencies.
    const SC_HANDLE service =
        CreateServiceA(manager, name, display_name, SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS,
                       SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, binary_path.c_str(), nullptr,
                       nullptr, nullptr, nullptr, nullptr);
    const uint32_t error = service == nullptr ? GetLastError() : 0;
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return error;
  }

  uint32_t DeleteServiceNamed(const char* name) override {
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return GetLastError();
    uint32_t error = 0;
    const SC_HANDLE service = OpenServiceA(manager, name, DELETE);
    if (service == nullptr) {
      error = GetLastError();
    } else {
      // A running service goes once it stops.
      if (!DeleteService(service)) error = GetLastError();
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
  }

  uint32_t SetServiceBinaryPath(const char* name, const std::string& binary_path) override {
    const SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return GetLastError();
    uint32_t error = 0;
    const SC_HANDLE service = OpenServiceA(manager, name, SERVICE_CHANGE_CONFIG);
    if (service == nullptr) {
      error = GetLastError();
    } else {
      if (!ChangeServiceConfigA(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                binary_path.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr)) {
        error = GetLastError();
      }
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return error;
  }

  uint32_t CreateEventSource(const char* name, const std::string& message_file) override {
    const std::string path = std::string(kEventLogKey) + name;
    HKEY key;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                 REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS) return static_cast<uint32_t>(error);
    error = SetText(key, "EventMessageFile", REG_EXPAND_SZ, message_file);
    if (error == ERROR_SUCCESS) {
      error = RegSetValueExA(key, "TypesSupported", 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&kEventTypes), sizeof(kEventTypes));
    }
    RegCloseKey(key);
    if (error != ERROR_SUCCESS) RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
    return static_cast<uint32_t>(error);
  }

  uint32_t DeleteEventSource(const char* name) override {
    const std::string path = std::string(kEventLogKey) + name;
    return static_cast<uint32_t>(RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str()));
  }

  uint32_t ValueExists(const char* subkey, const char* value_name, bool* exists) override {
    *exists = false;
    HKEY key;
    LONG error = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, KEY_QUERY_VALUE, &key);
    if (error == ERROR_FILE_NOT_FOUND) return 0;
    if (error != ERROR_SUCCESS) return static_cast<uint32_t>(error);
    error = RegQueryValueExA(key, value_name, nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    if (error == ERROR_FILE_NOT_FOUND) return 0;
    if (error != ERROR_SUCCESS) return static_cast<uint32_t>(error);
    *exists = true;
    return 0;
  }

  uint32_t WriteString(const char* subkey, const char* value_name,
                       const std::string& data) override {
    HKEY key;
    LONG error = RegCreateKeyExA(HKEY_LOCAL_MACHINE, subkey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_SET_VALUE, nullptr, &key, nullptr);
    if (error != ERROR_SUCCESS) return static_cast<uint32_t>(error);
    error = SetText(key, value_name, REG_SZ, data);
    RegCloseKey(key);
    return static_cast<uint32_t>(error);
  }
};

}  // namespace

ServiceSetup& DefaultServiceSetup() {
  static Win32ServiceSetup* setup = new Win32ServiceSetup();  // never destroyed, as the Env
  return *setup;
}

}  // namespace platform
