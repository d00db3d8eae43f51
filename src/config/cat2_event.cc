#include "config/cat2_event.h"

#include "config/data_file_path.h"
#include "config/profile_access.h"
#include "dmi/command_runner.h"
#include "dmi/dmi_commands.h"

namespace config {

namespace {
std::string SectionOf(int32_t n) { return kCat2SectionPrefix + std::to_string(n); }
}  // namespace

Cat2Event::Cat2Event() : dataFile(ReadDataFilePath()) {}

void Cat2Event::Load(int32_t n) {
  const std::string section = SectionOf(n);
  description = ReadProfileText(dataFile, section, kDescriptionKey);
  eventMode = ReadProfileText(dataFile, section, kEventModeKey);
  eventStatus = ReadProfileText(dataFile, section, kEventStatusKey);
  userChangeable = ReadProfileText(dataFile, section, kUserChangeableKey);
  responseCount = ReadProfileInt(dataFile, section, kResponseCountKey);
  // All twelve keys, whatever the count says.
  for (int k = 1; k <= kResponseSlots; ++k) {
    responses.push_back(ReadProfileText(dataFile, section, std::to_string(k)));
  }
  number = n;
}

void Cat2Event::ResetResponses() {
  responses.assign(kResponseSlots, kUnusedWord);
  responseCount = 0;
  Save();
}

void Cat2Event::Save() {
  dmi::RunAgentCommand(dmi::Cat2ResponseCountCommand(number, responseCount));
  for (int k = 1; k <= kResponseSlots; ++k) {
    dmi::RunAgentCommand(dmi::Cat2ResponseUnusedCommand(number, k));
  }
  WriteProfileText(dataFile, SectionOf(number), kUserChangeableKey, userChangeable);
}

}  // namespace config
