#include "platform/service_install.h"

#include <string>

#include "platform/service_dispatcher.h"

namespace platform {

namespace {

// Linux has no service control manager: systemd's unit file and the
// registry file take the service's place (README), so every step refuses.
class PosixServiceSetup final : public ServiceSetup {
 public:
  uint32_t CheckServiceAbsent(const char*) override { return kErrorCallNotImplemented; }
  bool DirectoryExists(const std::string&) override { return false; }
  bool FileExists(const std::string&) override { return false; }
  std::string FullPath(const std::string&) override { return ""; }
  uint32_t CreateAutoStartService(const char*, const char*, const std::string&) override {
    return kErrorCallNotImplemented;
  }
  uint32_t DeleteServiceNamed(const char*) override { return kErrorCallNotImplemented; }
  uint32_t SetServiceBinaryPath(const char*, const std::string&) override {
    return kErrorCallNotImplemented;
  }
  uint32_t CreateEventSource(const char*, const std::string&) override {
    return kErrorCallNotImplemented;
  }
  uint32_t DeleteEventSource(const char*) override { return kErrorCallNotImplemented; }
  uint32_t ValueExists(const char*, const char*, bool* exists) override {
    *exists = false;
    return kErrorCallNotImplemented;
  }
  uint32_t WriteString(const char*, const char*, const std::string&) override {
    return kErrorCallNotImplemented;
  }
};

}  // namespace

ServiceSetup& DefaultServiceSetup() {
  static PosixServiceSetup* setup = new PosixServiceSetup();  // never destroyed, as the Env
  return *setup;
}

}  // namespace platform
