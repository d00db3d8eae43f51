#include "platform/service_install.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/service_dispatcher.h"

namespace platform {
namespace {

constexpr char kProgram[] = "C:\\Program Files\\Agent\\schedExe.exe";
constexpr char kAgentKey[] = "SOFTWARE\\Agent";
constexpr char kDataKey[] = "SOFTWARE\\Agent\\Data";

// A machine in memory: it records every change, and fails the step named in
// `failing` with `error`.
class FakeSetup final : public ServiceSetup {
 public:
  std::set<std::string> folders = {"C:\\Agent", "D:\\Data"};
  std::set<std::string> files = {kProgram};
  std::map<std::string, std::string> values;  // "key|name" -> data
  std::vector<std::string> changes;
  bool service = false, source = false;
  std::string failing;
  uint32_t error = 5;

  uint32_t Step(const std::string& name) { return name == failing ? error : 0; }
  uint32_t CheckServiceAbsent(const char*) override {
    return service ? kErrorServiceExists : Step("check");
  }
  bool DirectoryExists(const std::string& path) override { return folders.count(path) != 0; }
  bool FileExists(const std::string& path) override { return files.count(path) != 0; }
  std::string FullPath(const std::string& path) override { return path; }
  uint32_t CreateAutoStartService(const char* name, const char*,
                                  const std::string& binary_path) override {
    return Change("service", std::string(name) + " " + binary_path, &service, true);
  }
  uint32_t DeleteServiceNamed(const char*) override {
    if (!service) return kErrorServiceDoesNotExist;
    return Change("delete service", "", &service, false);
  }
  uint32_t SetServiceBinaryPath(const char* name, const std::string& binary_path) override {
    return Change("program", std::string(name) + " " + binary_path);
  }
  uint32_t CreateEventSource(const char*, const std::string& file) override {
    return Change("source", file, &source, true);
  }
  uint32_t DeleteEventSource(const char*) override {
    if (!source) return kErrorFileNotFound;
    return Change("delete source", "", &source, false);
  }
  uint32_t ValueExists(const char* key, const char* name, bool* exists) override {
    *exists = values.count(std::string(key) + "|" + name) != 0;
    return Step("read");
  }
  uint32_t WriteString(const char* key, const char* name, const std::string& data) override {
    const uint32_t result = Change("write", std::string(name) + "=" + data);
    if (result == 0) values[std::string(key) + "|" + name] = data;
    return result;
  }

 private:
  uint32_t Change(const std::string& step, const std::string& what, bool* flag = nullptr,
                  bool to = false) {
    if (const uint32_t result = Step(step)) return result;
    changes.push_back(step + (what.empty() ? "" : " " + what));
    if (flag) *flag = to;
    return 0;
  }
};

InstallRequest Request(const std::string& agent, const std::string& data, bool replace = false) {
  InstallRequest request;
  request.service_name = "schedExe";
  request.binary = kProgram;
  request.values = {{kAgentKey, "TTX Path", agent}, {kDataKey, "DatsPath", data}};
  request.replace = replace;
  return request;
}

TEST(ServiceInstallTest, CreatesTheQuotedServiceItsSourceAndOnlyTheValuesAllowed) {
  const std::string service = std::string("service schedExe \"") + kProgram + "\"";
  const std::string source = std::string("source ") + kProgram;
  struct Case {
    bool agent_value_set, replace;
    std::string data_folder;
    std::vector<std::string> changes;
  } cases[] = {
      {false,
       false,
       "D:\\Data",
       {service, source, "write TTX Path=C:\\Agent", "write DatsPath=D:\\Data"}},
      {true, false, "D:\\Data", {service, source, "write DatsPath=D:\\Data"}},
      {true, true, "", {service, source, "write TTX Path=C:\\Agent"}},
  };
  for (const Case& c : cases) {
    FakeSetup setup;
    if (c.agent_value_set) setup.values["SOFTWARE\\Agent|TTX Path"] = "C:\\Old";
    InstallReport report;
    // A trailing separator is dropped from the value.
    EXPECT_EQ(InstallService(setup, Request("C:\\Agent\\\\", c.data_folder, c.replace), &report),
              0u);
    EXPECT_EQ(setup.changes, c.changes) << report.out;
    EXPECT_EQ(report.err, "");
    EXPECT_EQ(report.out.find("kept") != std::string::npos, c.agent_value_set && !c.replace);
  }
}

// Each refusal comes before the first change, with its own error and line.
TEST(ServiceInstallTest, RefusalsChangeNothing) {
  struct Case {
    const char* name;
    void (*arrange)(FakeSetup&, InstallRequest&);
    uint32_t error;
  } cases[] = {
      {"exists", [](FakeSetup& s, InstallRequest&) { s.service = true; }, kErrorServiceExists},
      {"no right", [](FakeSetup& s, InstallRequest&) { s.failing = "check"; }, 5},
      {"no program", [](FakeSetup& s, InstallRequest&) { s.files.clear(); }, kErrorFileNotFound},
      {"quote", [](FakeSetup&, InstallRequest& r) { r.binary = "C:\\a\"b.exe"; },
       kErrorInvalidParameter},
      {"no path", [](FakeSetup&, InstallRequest& r) { r.binary = ""; }, kErrorInvalidParameter},
      {"no data folder", [](FakeSetup& s, InstallRequest&) { s.folders.erase("D:\\Data"); },
       kErrorPathNotFound},
      {"unreadable", [](FakeSetup& s, InstallRequest&) { s.failing = "read"; }, 5},
  };
  for (const Case& c : cases) {
    FakeSetup setup;
    InstallRequest request = Request("C:\\Agent", "D:\\Data", true);
    c.arrange(setup, request);
    InstallReport report;
    EXPECT_EQ(InstallService(setup, request, &report), c.error) << c.name;
    EXPECT_EQ(setup.changes, std::vector<std::string>()) << c.name;
    EXPECT_NE(report.err.find("error " + std::to_string(c.error) + "\n"), std::string::npos)
        << c.name << ": " << report.err;
  }
}

TEST(ServiceInstallTest, ALaterFailureTakesServiceAndSourceAway) {
  for (const char* step : {"service", "source", "write"}) {
    FakeSetup setup;
    setup.failing = step;
    InstallReport report;
    EXPECT_EQ(InstallService(setup, Request("C:\\Agent", ""), &report), 5u) << step;
    EXPECT_FALSE(setup.service || setup.source) << step;
    EXPECT_EQ(setup.values.size(), 0u);
  }
}

TEST(ServiceInstallTest, UninstallLeavesTheValuesAndToleratesWhatIsGone) {
  FakeSetup setup;
  InstallReport report;
  ASSERT_EQ(InstallService(setup, Request("C:\\Agent", "D:\\Data"), &report), 0u);
  ASSERT_EQ(UninstallService(setup, "schedExe", &report), 0u);
  EXPECT_FALSE(setup.service || setup.source);
  EXPECT_EQ(setup.values.size(), 2u);
  ASSERT_EQ(UninstallService(setup, "schedExe", &report), 0u);
  EXPECT_NE(report.out.find("was not installed"), std::string::npos) << report.out;
  setup.service = true;
  setup.failing = "delete service";
  EXPECT_EQ(UninstallService(setup, "schedExe", &report), 5u);
#ifndef _WIN32
  // Linux refuses at the first step.
  EXPECT_EQ(UninstallService(DefaultServiceSetup(), "schedExe", &report), kErrorCallNotImplemented);
#endif
}

// An installer package's step after its own service install: no service or
// event source of its own, the program quoted, absent folder values only,
// Parameters as given.
TEST(ServiceInstallTest, AgentValuesKeepTheAgentsAndWriteTheGivenParameters) {
  const std::string parameters = "SYSTEM\\CurrentControlSet\\Services\\schedExe\\Parameters|";
  FakeSetup setup;
  setup.values["SOFTWARE\\Agent|TTX Path"] = "C:\\Old";
  InstallRequest request = Request("C:\\Agent", "D:\\Data\\");
  request.parameters = {{"LogFile", "D:\\Data\\s.log"}, {"LogLevel", ""}};
  InstallReport report;
  ASSERT_EQ(SetAgentValues(setup, request, &report), 0u) << report.err;
  EXPECT_EQ(setup.changes,
            (std::vector<std::string>{std::string("program schedExe \"") + kProgram + "\"",
                                      "write DatsPath=D:\\Data", "write LogFile=D:\\Data\\s.log"}));
  EXPECT_EQ(setup.values["SOFTWARE\\Agent|TTX Path"], "C:\\Old");
  EXPECT_EQ(setup.values[parameters + "LogFile"], "D:\\Data\\s.log");
  EXPECT_FALSE(setup.service || setup.source);

  // A missing folder or a program that cannot be quoted refuses before any
  // change.
  setup.changes.clear();
  setup.folders.clear();
  EXPECT_EQ(SetAgentValues(setup, request, &report), kErrorPathNotFound);
  request.values.clear();
  request.binary = "C:\\a\"b.exe";
  EXPECT_EQ(SetAgentValues(setup, request, &report), kErrorInvalidParameter);
  EXPECT_EQ(setup.changes, std::vector<std::string>());
}

}  // namespace
}  // namespace platform
