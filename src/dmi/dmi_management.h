// The management commands beyond a set: listings of components, groups and
// attributes, names and enumeration texts, rows read and added, components
// installed and deleted. They run on a handle from slRegister; texts come
// back in the ANSI code page whatever the component keeps. Each returns the
// DMI status of the command that failed, or 0.
#ifndef SCHEDEXE_DMI_DMI_MANAGEMENT_H_
#define SCHEDEXE_DMI_DMI_MANAGEMENT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "dmi/dmi_values.h"

namespace dmi {

struct ComponentInfo {
  uint32_t id;
  std::string name;
};

struct GroupInfo {
  uint32_t id;
  uint32_t key_count;
  std::string name;
};

struct AttributeInfo {
  uint32_t id;
  uint32_t type;
  uint32_t size;
  uint32_t key_index;  // 0, or its place (from 1) in the group's key list
  std::string name;
};

// One attribute value of a row, encoded as the interface sends it.
struct RowValue {
  uint32_t attribute_id;
  uint32_t type;
  std::string value;
};
using RowValues = std::vector<RowValue>;

// 513/514: every component, or those with a group class that begins with
// `componentClass` (at most 80 bytes).
uint32_t ListComponents(uint32_t handle, const std::string& componentClass,
                        std::vector<ComponentInfo>* components);
// 512.
uint32_t GetComponentName(uint32_t handle, uint32_t componentId, std::string* name);
// 517/518.
uint32_t ListGroups(uint32_t handle, uint32_t componentId, std::vector<GroupInfo>* groups);
// 516: the group's class string and name.
uint32_t GetGroupTexts(uint32_t handle, uint32_t componentId, uint32_t groupId,
                       std::string* classString, std::string* name);
// 521/522.
uint32_t ListAttributes(uint32_t handle, uint32_t componentId, uint32_t groupId,
                        std::vector<AttributeInfo>* attributes);
// 520: the text of one value of an enumerated attribute.
uint32_t GetEnumText(uint32_t handle, uint32_t componentId, uint32_t groupId, uint32_t attributeId,
                     int32_t value, std::string* text);
// 768: adds the row the keys name.
uint32_t AddRow(uint32_t handle, uint32_t componentId, uint32_t groupId,
                const std::vector<DmiKeyValue>& keys);
// 773/774: every row of the group, in the provider's order.
uint32_t ReadRows(uint32_t handle, uint32_t componentId, uint32_t groupId,
                  std::vector<RowValues>* rows);
// A value of a row as display text (DmiValueToText), an enumerated integer
// named through 520 when its attribute has a text for it.
std::string RowValueText(uint32_t handle, uint32_t componentId, uint32_t groupId,
                         const RowValue& value);
// 1026: installs the description file `path`; its id into *componentId.
uint32_t AddComponent(uint32_t handle, const std::string& path, uint32_t* componentId);
// 1027 for every component of the class; how many went into *deleted.
uint32_t DeleteComponents(uint32_t handle, const std::string& componentClass, int* deleted);

}  // namespace dmi

#endif  // SCHEDEXE_DMI_DMI_MANAGEMENT_H_
