// dmitables: the operator's view of the DMI tables, through the management
// interface only (never the store file), so that it shows what every
// management application sees.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "dmi/agent_client_directory.h"
#include "dmi/dmi_interface.h"
#include "dmi/dmi_library.h"
#include "dmi/dmi_management.h"
#include "dmi/dmi_setter.h"
#include "dmi_client.h"
#include "platform/file.h"
#include "platform/process_info.h"

namespace {

constexpr int kFailure = 1;
constexpr int kUsageError = 2;

constexpr char kUsage[] =
    "usage: dmitables COMMAND [ARGUMENT...]\n"
    "\n"
    "  components                 every component: id, name, language\n"
    "  groups COMPONENT-CLASS     the groups of the components of a class\n"
    "  rows CLASS-PATH            the rows of one group, a column per attribute\n"
    "  install FILE               installs a component description file; prints its id\n"
    "  install --if-absent FILE   the same where no store exists yet; an existing store\n"
    "                             stays as it is (an installer's step)\n"
    "  remove COMPONENT-CLASS     deletes every component of a class\n"
    "  set CLASS-PATH ATTRIBUTE-ID VALUE KEY-LIST TYPE\n"
    "                             sets one attribute, as DmiSetValue does\n"
    "\n"
    "A component class is as in \"CORVANEX|Events, Alarms & Responses Creation|\"; a class\n"
    "path adds \"|\" and a group class, or is a group class alone.\n"
    "Exit status: 0 done, 1 a DMI failure, 2 a usage error.\n";

using Table = std::vector<std::vector<std::string>>;

// Columns as wide as their widest cell, one blank apart, heads in capitals.
void PrintTable(Table table, const char* what) {
  std::vector<size_t> widths;
  for (const auto& row : table) {
    widths.resize(std::max(widths.size(), row.size()));
    for (size_t c = 0; c < row.size(); ++c) widths[c] = std::max(widths[c], row[c].size());
  }
  for (std::string& head : table[0]) {
    std::transform(head.begin(), head.end(), head.begin(),
                   [](unsigned char ch) { return static_cast<char>(std::toupper(ch)); });
  }
  for (const auto& row : table) {
    std::string line;
    for (size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size()) line += std::string(widths[c] - row[c].size() + 1, ' ');
    }
    std::printf("%s\n", line.c_str());
  }
  const size_t count = table.size() - 1;
  std::printf("\n%zu %s%s listed.\n", count, what, count == 1 ? "" : "s");
}

int Fail(const std::string& what, uint32_t status) {
  std::fprintf(stderr, "dmitables: %s: %s\n", what.c_str(), DmiStatusText(status).c_str());
  return kFailure;
}

int Components(uint32_t handle) {
  std::vector<dmi::ComponentInfo> components;
  if (const uint32_t status = dmi::ListComponents(handle, "", &components)) {
    return Fail("listing the components", status);
  }
  Table table = {{"id", "name", "language"}};
  for (const dmi::ComponentInfo& component : components) {
    const auto& languages = dmi::DmiLibrary().languageTable;
    const auto entry = languages.find(static_cast<int>(component.id));
    const std::string language = entry != languages.end() ? entry->second : std::string();
    table.push_back({std::to_string(component.id), component.name, language});
  }
  PrintTable(table, "component");
  return 0;
}

int Groups(uint32_t handle, const std::string& componentClass) {
  std::vector<dmi::ComponentInfo> components;
  if (const uint32_t status = dmi::ListComponents(handle, componentClass, &components)) {
    return Fail("listing the components of " + componentClass, status);
  }
  Table table = {{"component", "group", "keys", "class", "name"}};
  for (const dmi::ComponentInfo& component : components) {
    std::vector<dmi::GroupInfo> groups;
    if (const uint32_t status = dmi::ListGroups(handle, component.id, &groups)) {
      return Fail("listing the groups of component " + std::to_string(component.id), status);
    }
    for (const dmi::GroupInfo& group : groups) {
      std::string class_string;
      std::string name;
      if (const uint32_t status =
              dmi::GetGroupTexts(handle, component.id, group.id, &class_string, &name)) {
        return Fail("reading group " + std::to_string(group.id), status);
      }
      table.push_back({std::to_string(component.id), std::to_string(group.id),
                       std::to_string(group.key_count), class_string, name});
    }
  }
  PrintTable(table, "group");
  return 0;
}

int Rows(uint32_t handle, const std::string& classPath) {
  uint32_t component_id = 0;
  uint32_t group_id = 0;
  if (!dmi::FindComponentGroup(handle, classPath.c_str(), &component_id, &group_id)) {
    std::fprintf(stderr, "dmitables: class %s not found\n", classPath.c_str());
    return kFailure;
  }
  std::vector<dmi::AttributeInfo> attributes;
  if (const uint32_t status = dmi::ListAttributes(handle, component_id, group_id, &attributes)) {
    return Fail("listing the attributes", status);
  }
  std::vector<dmi::RowValues> rows;
  if (const uint32_t status = dmi::ReadRows(handle, component_id, group_id, &rows)) {
    return Fail("reading the rows", status);
  }
  Table table(1);
  for (const dmi::AttributeInfo& attribute : attributes) table[0].push_back(attribute.name);
  for (const dmi::RowValues& row : rows) {
    std::vector<std::string>& line = table.emplace_back(attributes.size());
    for (const dmi::RowValue& value : row) {
      for (size_t c = 0; c < attributes.size(); ++c) {
        if (attributes[c].id != value.attribute_id) continue;
        line[c] = dmi::RowValueText(handle, component_id, group_id, value);
        // An empty cell would shift the columns for the eye.
        if (line[c].empty()) line[c] = "-";
      }
    }
  }
  PrintTable(table, "row");
  return 0;
}

int Install(uint32_t handle, const std::string& file) {
  uint32_t component_id = 0;
  if (const uint32_t status = dmi::AddComponent(handle, file, &component_id)) {
    return Fail("installing " + file, status);
  }
  std::printf("%u\n", component_id);
  return 0;
}

// The store file as the provider finds it, "" when the agent names no
// folder. Only whether it exists is looked at: its tables are the provider's.
std::string StoreFile() {
  std::string path = platform::GetEnvironmentVariable(dmi::kDmiStoreVariable);
  if (!path.empty()) return path;
  if (!dmi::ReadAgentClientDirectory(&path)) return "";
  return path + dmi::kDmiStoreFileName;
}

int Remove(uint32_t handle, const std::string& componentClass) {
  int deleted = 0;
  const uint32_t status = dmi::DeleteComponents(handle, componentClass, &deleted);
  std::printf("%d component%s removed.\n", deleted, deleted == 1 ? "" : "s");
  return status ? Fail("removing the components of " + componentClass, status) : 0;
}

int Set(char** args) {
  std::string failure;
  const int result = dmi::SetDmiAttribute(args[0], args[1], args[2], args[3], args[4], &failure);
  if (result == dmi::kSetOk) return 0;
  while (!failure.empty() && failure.back() == '\n') failure.pop_back();
  std::fprintf(stderr, "dmitables: %s\n", failure.c_str());
  return kFailure;
}

// The commands and how many arguments each takes.
struct Command {
  const char* name;
  int arguments;
};
constexpr Command kCommands[] = {{"components", 0}, {"groups", 1}, {"rows", 1},
                                 {"install", 1},    {"remove", 1}, {"set", 5}};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const Command* command = nullptr;
  for (const Command& c : kCommands) {
    if (argc >= 2 && std::strcmp(argv[1], c.name) == 0) command = &c;
  }
  // An installer runs this on every install and upgrade: a store that
  // exists holds the values of the tables, which must survive.
  const bool if_absent = command && std::strcmp(command->name, "install") == 0 && argc >= 3 &&
                         std::strcmp(argv[2], "--if-absent") == 0;
  if (if_absent && argc != 4) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  if (if_absent) {
    const std::string store = StoreFile();
    platform::FileStamp stamp;
    if (!store.empty() &&
        platform::StatFile(platform::NativePath(store), &stamp) != platform::FileStatus::kMissing) {
      std::printf("store %s exists: left as it is\n", store.c_str());
      return 0;
    }
    argv[2] = argv[3];
    argc = 3;
  }
  if (!command || argc - 2 != command->arguments) {
    std::fputs(kUsage, stderr);
    return kUsageError;
  }
  std::string failure;
  if (!LoadDmiProvider(&failure)) {
    std::fprintf(stderr, "dmitables: %s\n", failure.c_str());
    return kFailure;
  }
  const std::string name = command->name;
  if (name == "set") return Set(argv + 2);
  uint32_t handle = 0;
  if (!dmi::slRegister(&handle)) {
    std::fputs("dmitables: cannot register with the DMI provider\n", stderr);
    return kFailure;
  }
  int result = 0;
  if (name == "components") result = Components(handle);
  if (name == "groups") result = Groups(handle, argv[2]);
  if (name == "rows") result = Rows(handle, argv[2]);
  if (name == "install") result = Install(handle, argv[2]);
  if (name == "remove") result = Remove(handle, argv[2]);
  dmi::slUnregister(handle);
  return result;
}
