#include "dmi/dmi_commands.h"

namespace dmi {

namespace {

// Leading text, row, closing quote, blank, type.
std::string Keyed(const char* text, int row) {
  return text + std::to_string(row) + "\" " + std::to_string(kDisplayStringType);
}

// Text, bare count, key text, row, closing quote, blank, type.
std::string Counted(const char* text, int value, int row) {
  return text + std::to_string(value) + kCountKeyText + Keyed("", row);
}

// Cat2 Table record row: class text, blank, attribute, blank, value and key.
std::string Cat2Table(int attribute, const std::string& value_and_key, int row) {
  return std::string(kCat2TableText) + " " + std::to_string(attribute) + value_and_key +
         Keyed("", row);
}

// Group, attribute and quoted value of the editor's rows, then the key.
std::string TextRow(const char* group, int attribute, const std::string& value, int row) {
  const std::string text = std::string(kAgentTablesText) + group + "|\" " +
                           std::to_string(attribute) + " \"" + value + "\" \"A1|";
  return Keyed(text.c_str(), row);
}

}  // namespace

std::string ProfileActiveCommand(int profile) { return Keyed(kProfileActiveText, profile + 1); }
std::string ProfileDeleteCommand(int row) { return Keyed(kProfileDeleteText, row); }
std::string ProfileNameUnusedCommand(int slot) { return Keyed(kProfileNameUnusedText, slot + 1); }
std::string ProfileStateUnusedCommand(int slot) { return Keyed(kProfileStateUnusedText, slot + 1); }
std::string ProfileListEntryUnusedCommand(int slot) {
  return Keyed(kProfileListEntryUnusedText, slot + 6);
}
std::string ProfileCountCommand(int count) { return Counted(kProfileCountText, count, 6); }
std::string Cat2ListEntryUnusedCommand(int slot) {
  return Keyed(kCat2ListEntryUnusedText, slot + 12);
}
std::string Cat2ListCountCommand(int count) { return Counted(kCat2ListCountText, count, 11); }
std::string Cat2ListLastEventClearCommand() { return Counted(kCat2ListCountText, 0, 12); }
std::string Cat2ListUnchangedCommand() { return Keyed(kCat2ListUnchangedText, 3); }
std::string Cat2FiredCommand(int slot) { return Keyed(kCat2FiredText, slot + 1); }
std::string GeneralFiredCommand() { return Keyed(kGeneralFiredText, 3); }
std::string Cat2ResponseCountCommand(int slot, int response_count) {
  return Cat2Table(6, " " + std::to_string(response_count) + kCountKeyText, slot + 1);
}
std::string Cat2ResponseUnusedCommand(int slot, int response) {
  return Cat2Table(6 + response, kResponseUnusedText, slot + 1);
}

std::string ProfileTableTextCommand(int profile, int attribute, const std::string& value) {
  return TextRow(kProfileTableGroup, attribute, value, profile + 1);
}
std::string ProfileListEntryCommand(int slot, const std::string& value) {
  return TextRow(kProfileListGroup, 2, value, slot + 6);
}
std::string Cat2ListEntryCommand(int slot, const std::string& value) {
  return TextRow(kCat2ListGroup, 2, value, slot + 12);
}
std::string Cat2NameCommand(int slot, const std::string& value) {
  return TextRow(kCat2TableGroup, kCat2NameAttribute, value, slot + 1);
}

}  // namespace dmi
