#include "dmisp/command_execute.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <type_traits>

#include "dmisp/command_reply.h"
#include "dmisp/command_request.h"
#include "dmisp/store_values.h"
#include "platform/file.h"

namespace dmisp {

namespace {

using dmi::DmiCommandBlock;

// The highest component id the interface allows.
constexpr uint32_t kMaxComponentId = 4095;

template <typename Items>
auto FindId(Items& items, uint32_t id) -> decltype(&items.front()) {
  for (auto& item : items) {
    if (item.id == id) return &item;
  }
  return nullptr;
}

// The component, group and attribute a request names, const when the
// tables are.
template <typename TablesType>
struct Target {
  template <typename T>
  using Ptr = std::conditional_t<std::is_const_v<TablesType>, const T*, T*>;
  Ptr<Component> component = nullptr;
  Ptr<Group> group = nullptr;
  Ptr<Attribute> attribute = nullptr;
};
// Finds them, with the status that tells which one is missing; a null id
// ends the search there.
template <typename TablesType>
uint32_t Find(TablesType& tables, uint32_t componentId, const uint32_t* group_id,
              const uint32_t* attribute_id, Target<TablesType>* target) {
  target->component = FindId(tables.components, componentId);
  if (!target->component) return dmi::kDmiComponentNotFound;
  if (!group_id) return dmi::kDmiOk;
  target->group = FindId(target->component->groups, *group_id);
  if (!target->group) return dmi::kDmiGroupNotFound;
  if (!attribute_id) return dmi::kDmiOk;
  target->attribute = FindId(target->group->attributes, *attribute_id);
  return target->attribute ? dmi::kDmiOk : dmi::kDmiAttributeNotFound;
}

const Value& ValueOf(const Row& row, const Attribute& attribute) {
  const auto it = row.values.find(attribute.id);
  return it == row.values.end() ? attribute.initial : it->second;
}

// The row of `group` that the keys name: the one row of an unkeyed group
// whatever the keys; else the first row whose values equal every key's.
uint32_t FindRow(const Group& group, const std::vector<RequestKey>& keys, size_t* index) {
  if (group.keyIds.empty()) {
    *index = 0;
    return group.rows.empty() ? dmi::kDmiRowNotFound : dmi::kDmiOk;
  }
  if (keys.empty()) return dmi::kDmiRowNotFound;
  for (const RequestKey& key : keys) {
    if (!FindId(group.attributes, key.attribute_id)) return dmi::kDmiAttributeNotFound;
  }
  for (size_t i = 0; i < group.rows.size(); ++i) {
    const bool match = std::all_of(keys.begin(), keys.end(), [&](const RequestKey& key) {
      return ValueOf(group.rows[i], *FindId(group.attributes, key.attribute_id)) == key.value;
    });
    if (match) {
      *index = i;
      return dmi::kDmiOk;
    }
  }
  return dmi::kDmiRowNotFound;
}

// Orders two values of one type: numbers by value, texts by their bytes.
int CompareValues(const Value& a, const Value& b, uint32_t type) {
  const auto number = [type](const Value& v) -> long double {
    if (v.size() == 4) {
      uint32_t u = 0;
      std::memcpy(&u, v.data(), 4);
      return type == dmi::kDmiInteger ? static_cast<int32_t>(u) : u;
    }
    if (v.size() == 8) {
      uint64_t u = 0;
      std::memcpy(&u, v.data(), 8);
      return type == dmi::kDmiInteger64 ? static_cast<long double>(static_cast<int64_t>(u))
                                        : static_cast<long double>(u);
    }
    return 0;
  };
  switch (type) {
    case dmi::kDmiCounter:
    case dmi::kDmiGauge:
    case dmi::kDmiInteger:
    case dmi::kDmiCounter64:
    case dmi::kDmiInteger64: {
      const long double x = number(a), y = number(b);
      return x < y ? -1 : x > y ? 1 : 0;
    }
    default:
      return a.compare(b) < 0 ? -1 : a.compare(b) > 0 ? 1 : 0;
  }
}

// Whether a key of `keyType` (5 or 8) can name a value of `attributeType`.
bool KeyFits(uint32_t keyType, uint32_t attributeType) {
  if (keyType == dmi::kDmiDisplayString) return attributeType == dmi::kDmiDisplayString;
  return attributeType == dmi::kDmiCounter || attributeType == dmi::kDmiGauge ||
         attributeType == dmi::kDmiInteger;
}

// 768: a new row with the initial values and the keys' values, in key order.
uint32_t AddRow(Group& group, const std::vector<RequestKey>& keys) {
  if (group.keyIds.empty()) return dmi::kDmiRowExists;
  Row row;
  for (const Attribute& attribute : group.attributes) row.values[attribute.id] = attribute.initial;
  for (const RequestKey& key : keys) {
    const Attribute* attribute = FindId(group.attributes, key.attribute_id);
    if (!attribute) return dmi::kDmiAttributeNotFound;
    if (!KeyFits(key.type, attribute->type)) return dmi::kDmiIllegalType;
    row.values[key.attribute_id] = key.value;
  }
  size_t existing = 0;
  if (const uint32_t status = FindRow(group, keys, &existing); status != dmi::kDmiRowNotFound) {
    return status == dmi::kDmiOk ? dmi::kDmiRowExists : status;
  }
  const auto before = [&](const Row& a, const Row& b) {
    for (const uint32_t id : group.keyIds) {
      const Attribute* attribute = FindId(group.attributes, id);
      if (!attribute) continue;
      const int order =
          CompareValues(ValueOf(a, *attribute), ValueOf(b, *attribute), attribute->type);
      if (order != 0) return order < 0;
    }
    return false;
  };
  group.rows.insert(std::upper_bound(group.rows.begin(), group.rows.end(), row, before),
                    std::move(row));
  return dmi::kDmiOk;
}

// 769: the value, checked against the attribute, into the row the keys name.
uint32_t SetValue(Target<Tables>& target, uint32_t type, const Value& value,
                  const std::vector<RequestKey>& keys) {
  if (type != target.attribute->type) return dmi::kDmiIllegalType;
  const bool sized =
      type == dmi::kDmiOctetString || type == dmi::kDmiDisplayString || type == dmi::kDmiDate;
  if (sized && target.attribute->size != 0 && value.size() > target.attribute->size) {
    return dmi::kDmiValueTooLong;
  }
  size_t index = 0;
  if (const uint32_t status = FindRow(*target.group, keys, &index)) return status;
  target.group->rows[index].values[target.attribute->id] = value;
  return dmi::kDmiOk;
}

// 773 and 774: every attribute of a row as a DmiRowReply.
std::string RowReply(const Group& group, const Row& row) {
  std::string reply = Words({static_cast<uint32_t>(group.attributes.size())});
  for (const Attribute& attribute : group.attributes) {
    const std::string value = EncodeValue(ValueOf(row, attribute), attribute.type);
    reply += Words({attribute.id, attribute.type, static_cast<uint32_t>(value.size())}) + value;
    reply.resize(dmi::DmiPadded(reply.size()), '\0');
  }
  return reply;
}

std::string NameEntry(std::initializer_list<uint32_t> head, const std::string& name, bool unicode) {
  const std::string text = WireText(name, unicode);
  std::string entry = Words(head);
  return entry + Words({static_cast<uint32_t>(text.size())}) + text;
}

// The read-only commands, answered from the tables as read.
uint32_t Answer(const Tables& tables, const std::vector<uint8_t>& request, Reply* reply) {
  const uint8_t* base = request.data();
  const uint32_t code = REQUEST_FIELD(base, DmiCommandBlock, commandCode);
  Target<const Tables> target;
  switch (code) {
    case dmi::kDmiGetComponent: {
      if (const uint32_t status =
              Find(tables, REQUEST_FIELD(base, dmi::DmiComponentRequest, componentId), nullptr,
                   nullptr, &target)) {
        return status;
      }
      return WriteReply(
          NameEntry({}, target.component->name, IsUnicodeLanguage(target.component->language)),
          reply);
    }
    case dmi::kDmiListComponents:
    case dmi::kDmiListComponentsNext: {
      const uint32_t form = REQUEST_FIELD(base, dmi::DmiListComponentsRequest, form);
      const uint32_t after = code == dmi::kDmiListComponents
                                 ? 0
                                 : REQUEST_FIELD(base, dmi::DmiListComponentsRequest, afterId);
      const std::string wanted(reinterpret_cast<const char*>(base) +
                                   offsetof(dmi::DmiListComponentsRequest, componentClass),
                               REQUEST_FIELD(base, dmi::DmiListComponentsRequest, classLength));
      std::vector<std::string> entries;
      for (const Component& component : tables.components) {
        if (component.id <= after) continue;
        const bool member =
            wanted.empty() ||
            std::any_of(component.groups.begin(), component.groups.end(), [&](const Group& group) {
              return group.classString.compare(0, wanted.size(), wanted) == 0;
            });
        if (!member) continue;
        if (form & dmi::kDmiListWithClasses) {
          std::string entry = Words({component.id, static_cast<uint32_t>(component.groups.size())});
          for (const Group& group : component.groups) {
            entry += Words({group.id, static_cast<uint32_t>(group.classString.size())}) +
                     group.classString;
            entry.resize(dmi::DmiPadded(entry.size()), '\0');
          }
          entries.push_back(std::move(entry));
        } else {
          entries.push_back(
              NameEntry({component.id}, component.name, IsUnicodeLanguage(component.language)));
        }
      }
      return WriteListing(entries, reply);
    }
    case dmi::kDmiGetGroup: {
      const uint32_t group_id = REQUEST_FIELD(base, dmi::DmiGroupRequest, groupId);
      if (const uint32_t status =
              Find(tables, REQUEST_FIELD(base, dmi::DmiGroupRequest, componentId), &group_id,
                   nullptr, &target)) {
        return status;
      }
      const std::string name =
          WireText(target.group->name, IsUnicodeLanguage(target.component->language));
      return WriteReply(Words({static_cast<uint32_t>(target.group->classString.size()),
                               static_cast<uint32_t>(name.size())}) +
                            target.group->classString + name,
                        reply);
    }
    case dmi::kDmiListGroups:
    case dmi::kDmiListGroupsNext: {
      if (const uint32_t status =
              Find(tables, REQUEST_FIELD(base, dmi::DmiListGroupsRequest, componentId), nullptr,
                   nullptr, &target)) {
        return status;
      }
      const uint32_t after =
          code == dmi::kDmiListGroups ? 0 : REQUEST_FIELD(base, dmi::DmiListGroupsRequest, afterId);
      std::vector<std::string> entries;
      for (const Group& group : target.component->groups) {
        if (group.id <= after) continue;
        entries.push_back(NameEntry({group.id, static_cast<uint32_t>(group.keyIds.size())},
                                    group.name, IsUnicodeLanguage(target.component->language)));
      }
      return WriteListing(entries, reply);
    }
    case dmi::kDmiGetEnumText: {
      const uint32_t group_id = REQUEST_FIELD(base, dmi::DmiEnumTextRequest, groupId);
      const uint32_t attribute_id = REQUEST_FIELD(base, dmi::DmiEnumTextRequest, attributeId);
      if (const uint32_t status =
              Find(tables, REQUEST_FIELD(base, dmi::DmiEnumTextRequest, componentId), &group_id,
                   &attribute_id, &target)) {
        return status;
      }
      const auto it =
          target.attribute->enumeration.find(REQUEST_FIELD(base, dmi::DmiEnumTextRequest, value));
      if (it == target.attribute->enumeration.end()) return dmi::kDmiNoEnumeration;
      return WriteReply(NameEntry({}, it->second, IsUnicodeLanguage(target.component->language)),
                        reply);
    }
    case dmi::kDmiListAttributes:
    case dmi::kDmiListAttributesNext: {
      const uint32_t group_id = REQUEST_FIELD(base, dmi::DmiListAttributesRequest, groupId);
      if (const uint32_t status =
              Find(tables, REQUEST_FIELD(base, dmi::DmiListAttributesRequest, componentId),
                   &group_id, nullptr, &target)) {
        return status;
      }
      const uint32_t after = code == dmi::kDmiListAttributes
                                 ? 0
                                 : REQUEST_FIELD(base, dmi::DmiListAttributesRequest, afterId);
      std::vector<std::string> entries;
      for (const Attribute& attribute : target.group->attributes) {
        if (attribute.id <= after) continue;
        const auto& keys = target.group->keyIds;
        const auto key = std::find(keys.begin(), keys.end(), attribute.id);
        const uint32_t key_index =
            key == keys.end() ? 0 : static_cast<uint32_t>(key - keys.begin()) + 1;
        entries.push_back(NameEntry({attribute.id, attribute.type, attribute.size, key_index},
                                    attribute.name, IsUnicodeLanguage(target.component->language)));
      }
      return WriteListing(entries, reply);
    }
    case dmi::kDmiReadRowFirst:
    case dmi::kDmiReadRowNext: {
      const uint32_t group_id = REQUEST_FIELD(base, dmi::DmiRowRequest, groupId);
      if (const uint32_t status = Find(tables, REQUEST_FIELD(base, dmi::DmiRowRequest, componentId),
                                       &group_id, nullptr, &target)) {
        return status;
      }
      const std::vector<RequestKey> keys =
          RequestKeys(request, REQUEST_FIELD(base, dmi::DmiRowRequest, keyCount),
                      REQUEST_FIELD(base, dmi::DmiRowRequest, keyListOffset));
      size_t index = 0;
      if (code == dmi::kDmiReadRowFirst && keys.empty()) {
        if (target.group->rows.empty()) return dmi::kDmiRowNotFound;
      } else {
        if (code == dmi::kDmiReadRowNext && keys.empty()) return dmi::kDmiRowNotFound;
        if (const uint32_t status = FindRow(*target.group, keys, &index)) return status;
        if (code == dmi::kDmiReadRowNext && ++index >= target.group->rows.size()) {
          return dmi::kDmiRowNotFound;
        }
      }
      return WriteReply(RowReply(*target.group, target.group->rows[index]), reply);
    }
    default:
      return dmi::kDmiUnknownCommand;
  }
}

// The commands that change the tables. They change nothing unless they
// succeed, so that a failure leaves the tables as read.
uint32_t Change(Tables& tables, const std::vector<uint8_t>& request, const Component* added,
                Reply* reply) {
  const uint8_t* base = request.data();
  Target<Tables> target;
  switch (REQUEST_FIELD(base, DmiCommandBlock, commandCode)) {
    case dmi::kDmiRowCommand: {
      const uint32_t group_id = REQUEST_FIELD(base, dmi::DmiRowRequest, groupId);
      if (const uint32_t status = Find(tables, REQUEST_FIELD(base, dmi::DmiRowRequest, componentId),
                                       &group_id, nullptr, &target)) {
        return status;
      }
      return AddRow(*target.group,
                    RequestKeys(request, REQUEST_FIELD(base, dmi::DmiRowRequest, keyCount),
                                REQUEST_FIELD(base, dmi::DmiRowRequest, keyListOffset)));
    }
    case dmi::kDmiSetAttribute: {
      const uint32_t group_id = REQUEST_FIELD(base, dmi::DmiSetRequest, groupId);
      const uint32_t attribute_id = REQUEST_FIELD(base, dmi::DmiSetRequest, attributeId);
      if (const uint32_t status = Find(tables, REQUEST_FIELD(base, dmi::DmiSetRequest, componentId),
                                       &group_id, &attribute_id, &target)) {
        return status;
      }
      const uint32_t type = REQUEST_FIELD(base, dmi::DmiSetRequest, type);
      return SetValue(
          target, type,
          RequestValue(request, REQUEST_FIELD(base, dmi::DmiSetRequest, valueOffset), type),
          RequestKeys(request, REQUEST_FIELD(base, dmi::DmiSetRequest, keyCount),
                      REQUEST_FIELD(base, dmi::DmiSetRequest, keyListOffset)));
    }
    case dmi::kDmiAddComponent: {
      // The lowest free id: ids of deleted components come back into use.
      uint32_t id = 1;
      for (const Component& component : tables.components) {
        if (component.id != id) break;
        ++id;
      }
      if (id > kMaxComponentId) return dmi::kDmiNoComponentId;
      Component component = *added;
      component.id = id;
      const auto at = std::find_if(tables.components.begin(), tables.components.end(),
                                   [id](const Component& c) { return c.id > id; });
      tables.components.insert(at, std::move(component));
      ++tables.generation;
      return WriteReply(Words({id}), reply);
    }
    case dmi::kDmiDeleteComponent: {
      const uint32_t id = REQUEST_FIELD(base, dmi::DmiComponentRequest, componentId);
      const auto at = std::find_if(tables.components.begin(), tables.components.end(),
                                   [id](const Component& c) { return c.id == id; });
      if (at == tables.components.end()) return dmi::kDmiComponentNotFound;
      tables.components.erase(at);
      ++tables.generation;
      return dmi::kDmiOk;
    }
    default:
      return dmi::kDmiUnknownCommand;
  }
}

// 1026: the description file the request names, parsed.
uint32_t ReadDescription(const std::vector<uint8_t>& request, Component* component) {
  const std::string path(
      reinterpret_cast<const char*>(request.data()) + sizeof(dmi::DmiAddComponentRequest),
      REQUEST_FIELD(request.data(), dmi::DmiAddComponentRequest, pathLength));
  std::string text;
  std::string error;
  if (platform::ReadFileContents(platform::NativePath(path), &text, nullptr) !=
      platform::FileStatus::kOk) {
    return dmi::kDmiBadDescription;
  }
  return ParseDescription(text, component, &error) ? dmi::kDmiOk : dmi::kDmiBadDescription;
}

}  // namespace

ComponentView ViewOf(const Tables& tables) {
  ComponentView view;
  view.known = true;
  view.generation = tables.generation;
  for (const Component& component : tables.components) {
    std::string& fingerprint = view.components[component.id];
    fingerprint = component.language;
    for (const Group& group : component.groups) {
      fingerprint += '\n' + std::to_string(group.id) + '|' + group.classString;
    }
  }
  return view;
}

ComponentView ReadView(const std::string& store_path) {
  std::string error;
  const std::shared_ptr<const Tables> tables = ReadStoreShared(store_path, &error);
  return tables ? ViewOf(*tables) : ComponentView();
}

std::vector<dmi::DmiIndication> IndicationsBetween(const ComponentView& before,
                                                   const ComponentView& after, uint32_t handle) {
  std::vector<dmi::DmiIndication> indications;
  if (before.generation == after.generation) return indications;
  auto old = before.components.begin();
  auto now = after.components.begin();
  const auto send = [&](uint32_t kind, uint32_t id) {
    indications.push_back({kind, handle, id, after.generation});
  };
  // Both maps are in ascending id: one merge pass.
  while (old != before.components.end() || now != after.components.end()) {
    if (now == after.components.end() ||
        (old != before.components.end() && old->first < now->first)) {
      send(dmi::kDmiComponentDeleted, (old++)->first);
    } else if (old == before.components.end() || now->first < old->first) {
      send(dmi::kDmiComponentAdded, (now++)->first);
    } else {
      if (old->second != now->second) send(dmi::kDmiComponentChanged, now->first);
      ++old;
      ++now;
    }
  }
  return indications;
}

uint32_t ExecuteCommand(const std::string& store_path, const std::vector<uint8_t>& request,
                        Reply* reply, ComponentView* view,
                        const std::function<bool()>& may_write) {
  *view = ComponentView();
  if (store_path.empty()) return dmi::kDmiStoreFailed;
  std::string error;
  const uint32_t code = REQUEST_FIELD(request.data(), DmiCommandBlock, commandCode);
  const bool changes = code == dmi::kDmiRowCommand || code == dmi::kDmiSetAttribute ||
                       code == dmi::kDmiAddComponent || code == dmi::kDmiDeleteComponent;
  if (!changes) {
    const std::shared_ptr<const Tables> tables = ReadStoreShared(store_path, &error);
    if (!tables) return dmi::kDmiStoreFailed;
    *view = ViewOf(*tables);
    return Answer(*tables, request, reply);
  }
  Component added;
  if (code == dmi::kDmiAddComponent) {
    // The reply must have room before anything is installed.
    if (reply->capacity < sizeof(dmi::DmiAddComponentReply)) return dmi::kDmiBufferTooSmall;
    if (const uint32_t status = ReadDescription(request, &added)) return status;
  }
  return UpdateStore(
      store_path,
      [&](Tables& tables) {
        const uint32_t status = Change(tables, request, &added, reply);
        *view = ViewOf(tables);
        return status;
      },
      &error, may_write);
}

uint32_t ListLanguagesOf(const std::string& store_path, uint32_t componentId, uint8_t* list,
                         uint32_t listLength) {
  std::string error;
  const std::shared_ptr<const Tables> tables = ReadStoreShared(store_path, &error);
  if (!tables) return dmi::kDmiStoreFailed;
  const Component* component = FindId(tables->components, componentId);
  if (!component) return dmi::kDmiComponentNotFound;
  Reply reply{listLength, {}};
  const uint32_t status = WriteListing(
      {Words({static_cast<uint32_t>(component->language.size())}) + component->language}, &reply);
  reply.CopyTo(list);
  return status;
}

}  // namespace dmisp
