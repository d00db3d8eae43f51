#include "dmi/dmi_management.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string_view>

#include "dmi/command_block.h"
#include "dmi/dmi_library.h"
#include "dmi/dmi_setter.h"
#include "platform/code_page.h"

namespace dmi {

namespace {

// A paged listing whose page does not fit is asked again with twice the
// buffer, up to this size.
constexpr uint32_t kReplyLimit = 16u << 20;

// Whether the component keeps its texts in UTF-16, by the language list as
// it stands after the latest indication.
bool IsUnicode(uint32_t handle, uint32_t componentId) {
  RefreshComponentCache(handle);
  std::lock_guard<std::mutex> lock(*DmiLibrary().registrationMutex);
  return componentId < kLanguageTableSize && IsUnicodeLanguage(static_cast<int>(componentId));
}

// A name as the component sends it, in the ANSI code page.
std::string NameText(std::string_view wire, bool unicode) {
  return unicode ? platform::Utf16LeToAnsi(wire) : std::string(wire);
}

// Reads the entries of a reply one by one, never past its end.
class ReplyReader {
 public:
  ReplyReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Word(uint32_t* value) {
    if (size_ - at_ < 4) return false;
    *value = DmiLoad<uint32_t>(data_, at_);
    at_ += 4;
    return true;
  }
  // `length` bytes, then the padding to the next entry.
  bool Bytes(uint32_t length, std::string* out) {
    if (size_ - at_ < length) return false;
    out->assign(reinterpret_cast<const char*>(data_) + at_, length);
    at_ = std::min(size_, at_ + DmiPadded(length));
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

// The leading numbers of a listing entry, before its name.
using EntryNumbers = std::array<uint32_t, 4>;

// Runs a paged listing whose entries are `words` numbers and a name:
// `build` writes the request of a page into a block of the given code, and
// `take` gets each entry's numbers and its name as sent and returns the
// entry's id. 1 asks for the page after the last id, 512 for the same page
// with twice the buffer.
uint32_t Page(uint32_t firstCode, uint32_t nextCode, uint32_t handle, size_t words,
              const std::function<void(CommandBlock&, uint32_t afterId)>& build,
              const std::function<uint32_t(const EntryNumbers&, const std::string&)>& take) {
  uint32_t code = firstCode;
  uint32_t after = 0;
  uint32_t size = kCommandSize;
  for (;;) {
    CommandBlock command(code, handle, kCommandSize, size);
    build(command, after);
    const uint32_t status = command.Execute();
    if (status == kDmiBufferTooSmall && size < kReplyLimit) {
      size *= 2;
      continue;
    }
    if (!Succeeded(status)) return status;
    ReplyReader reader(command.reply(), command.reply_length());
    uint32_t count = 0;
    if (!reader.Word(&count)) return kDmiMalformedBlock;
    uint32_t last = 0;
    for (uint32_t i = 0; i < count; ++i) {
      EntryNumbers numbers{};
      uint32_t length = 0;
      std::string name;
      for (size_t w = 0; w < words; ++w) {
        if (!reader.Word(&numbers[w])) return kDmiMalformedBlock;
      }
      if (!reader.Word(&length) || !reader.Bytes(length, &name)) return kDmiMalformedBlock;
      last = take(numbers, name);
    }
    if (status == kDmiOk) return kDmiOk;
    // More follows, but a page that moved nowhere would repeat for ever.
    if (count == 0 || (code == nextCode && last <= after)) return kDmiMalformedBlock;
    after = last;
    code = nextCode;
  }
}

// Writes the key table and the key values of a row command at `offset`.
void PutKeys(CommandBlock& command, size_t offset, const std::vector<DmiKeyValue>& keys,
             bool unicode) {
  size_t value_at = offset + keys.size() * sizeof(DmiKey);
  for (size_t i = 0; i < keys.size(); ++i) {
    const std::string value = EncodeDmiKeyValue(keys[i], unicode);
    command.Set(offset + i * sizeof(DmiKey), DmiKey{static_cast<uint32_t>(keys[i].attribute_id),
                                                    keys[i].type, static_cast<uint32_t>(value_at)});
    std::copy(value.begin(), value.end(), command.bytes() + value_at);
    value_at += DmiPadded(value.size());
  }
}

size_t KeyBytes(const std::vector<DmiKeyValue>& keys, bool unicode) {
  size_t bytes = keys.size() * sizeof(DmiKey);
  for (const DmiKeyValue& key : keys) bytes += DmiPadded(EncodeDmiKeyValue(key, unicode).size());
  return bytes;
}

uint32_t RowCommand(uint32_t code, uint32_t handle, uint32_t componentId, uint32_t groupId,
                    const std::vector<DmiKeyValue>& keys, RowValues* row) {
  const bool unicode = IsUnicode(handle, componentId);
  const size_t length = sizeof(DmiRowRequest) + KeyBytes(keys, unicode);
  CommandBlock command(code, handle, static_cast<uint32_t>(std::max<size_t>(length, kCommandSize)));
  command.Set(offsetof(DmiRowRequest, componentId), componentId);
  command.Set(offsetof(DmiRowRequest, groupId), groupId);
  command.Set(offsetof(DmiRowRequest, keyCount), static_cast<uint32_t>(keys.size()));
  command.Set(offsetof(DmiRowRequest, keyListOffset), static_cast<uint32_t>(sizeof(DmiRowRequest)));
  PutKeys(command, sizeof(DmiRowRequest), keys, unicode);
  const uint32_t status = command.Execute();
  if (!Succeeded(status) || !row) return Succeeded(status) ? kDmiOk : status;
  ReplyReader reader(command.reply(), command.reply_length());
  uint32_t count = 0;
  if (!reader.Word(&count)) return kDmiMalformedBlock;
  row->clear();
  for (uint32_t i = 0; i < count; ++i) {
    RowValue value{};
    uint32_t length_of_value = 0;
    if (!reader.Word(&value.attribute_id) || !reader.Word(&value.type) ||
        !reader.Word(&length_of_value) || !reader.Bytes(length_of_value, &value.value)) {
      return kDmiMalformedBlock;
    }
    row->push_back(std::move(value));
  }
  return kDmiOk;
}

// The key of a row read back, to name it in the command for the next row.
std::vector<DmiKeyValue> KeysOf(const RowValues& row, const std::vector<AttributeInfo>& attributes,
                                bool unicode) {
  std::vector<const AttributeInfo*> keyed;
  for (const AttributeInfo& attribute : attributes) {
    if (attribute.key_index != 0) keyed.push_back(&attribute);
  }
  std::sort(keyed.begin(), keyed.end(), [](const AttributeInfo* a, const AttributeInfo* b) {
    return a->key_index < b->key_index;
  });
  std::vector<DmiKeyValue> keys;
  for (const AttributeInfo* attribute : keyed) {
    for (const RowValue& value : row) {
      if (value.attribute_id != attribute->id) continue;
      DmiKeyValue key{static_cast<int32_t>(value.attribute_id), value.type, 0, {}};
      if (value.type == kDmiDisplayString && value.value.size() >= 4) {
        key.text = NameText(std::string_view(value.value).substr(4), unicode);
      } else if (value.value.size() >= 4) {
        key.number = DmiLoad<int32_t>(value.value.data(), 0);
      }
      keys.push_back(key);
    }
  }
  return keys;
}

}  // namespace

uint32_t ListComponents(uint32_t handle, const std::string& componentClass,
                        std::vector<ComponentInfo>* components) {
  components->clear();
  const std::string filter =
      componentClass.substr(0, sizeof(DmiListComponentsRequest{}.componentClass));
  return Page(
      kDmiListComponents, kDmiListComponentsNext, handle, 1,
      [&](CommandBlock& command, uint32_t after) {
        command.Set(offsetof(DmiListComponentsRequest, afterId), after);
        command.Set(offsetof(DmiListComponentsRequest, classLength),
                    static_cast<uint32_t>(filter.size()));
        std::copy(filter.begin(), filter.end(),
                  command.bytes() + offsetof(DmiListComponentsRequest, componentClass));
      },
      [&](const EntryNumbers& numbers, const std::string& name) {
        components->push_back({numbers[0], NameText(name, IsUnicode(handle, numbers[0]))});
        return numbers[0];
      });
}

namespace {

// Runs a command whose reply is one text of the component (a name, an
// enumeration's text) and hands it back in the ANSI code page.
uint32_t ExecuteForText(CommandBlock& command, uint32_t handle, uint32_t componentId,
                        std::string* text) {
  const uint32_t status = command.Execute();
  if (!Succeeded(status)) return status;
  ReplyReader reader(command.reply(), command.reply_length());
  uint32_t length = 0;
  std::string wire;
  if (!reader.Word(&length) || !reader.Bytes(length, &wire)) return kDmiMalformedBlock;
  *text = NameText(wire, IsUnicode(handle, componentId));
  return kDmiOk;
}

}  // namespace

uint32_t GetComponentName(uint32_t handle, uint32_t componentId, std::string* name) {
  CommandBlock command(kDmiGetComponent, handle);
  command.Set(offsetof(DmiComponentRequest, componentId), componentId);
  return ExecuteForText(command, handle, componentId, name);
}

uint32_t ListGroups(uint32_t handle, uint32_t componentId, std::vector<GroupInfo>* groups) {
  groups->clear();
  const bool unicode = IsUnicode(handle, componentId);
  return Page(
      kDmiListGroups, kDmiListGroupsNext, handle, 2,
      [&](CommandBlock& command, uint32_t after) {
        command.Set(offsetof(DmiListGroupsRequest, componentId), componentId);
        command.Set(offsetof(DmiListGroupsRequest, afterId), after);
      },
      [&](const EntryNumbers& numbers, const std::string& name) {
        groups->push_back({numbers[0], numbers[1], NameText(name, unicode)});
        return numbers[0];
      });
}

uint32_t GetGroupTexts(uint32_t handle, uint32_t componentId, uint32_t groupId,
                       std::string* classString, std::string* name) {
  CommandBlock command(kDmiGetGroup, handle);
  command.Set(offsetof(DmiGroupRequest, componentId), componentId);
  command.Set(offsetof(DmiGroupRequest, groupId), groupId);
  const uint32_t status = command.Execute();
  if (!Succeeded(status)) return status;
  ReplyReader reader(command.reply(), command.reply_length());
  uint32_t class_length = 0;
  uint32_t name_length = 0;
  std::string wire;
  // The class string and the name follow the two lengths back to back.
  if (!reader.Word(&class_length) || !reader.Word(&name_length) ||
      !reader.Bytes(class_length + name_length, &wire) || wire.size() < class_length) {
    return kDmiMalformedBlock;
  }
  *classString = wire.substr(0, class_length);
  *name = NameText(std::string_view(wire).substr(class_length), IsUnicode(handle, componentId));
  return kDmiOk;
}

uint32_t ListAttributes(uint32_t handle, uint32_t componentId, uint32_t groupId,
                        std::vector<AttributeInfo>* attributes) {
  attributes->clear();
  const bool unicode = IsUnicode(handle, componentId);
  return Page(
      kDmiListAttributes, kDmiListAttributesNext, handle, 4,
      [&](CommandBlock& command, uint32_t after) {
        command.Set(offsetof(DmiListAttributesRequest, componentId), componentId);
        command.Set(offsetof(DmiListAttributesRequest, groupId), groupId);
        command.Set(offsetof(DmiListAttributesRequest, afterId), after);
      },
      [&](const EntryNumbers& numbers, const std::string& name) {
        attributes->push_back(
            {numbers[0], numbers[1], numbers[2], numbers[3], NameText(name, unicode)});
        return numbers[0];
      });
}

uint32_t GetEnumText(uint32_t handle, uint32_t componentId, uint32_t groupId, uint32_t attributeId,
                     int32_t value, std::string* text) {
  CommandBlock command(kDmiGetEnumText, handle);
  command.Set(offsetof(DmiEnumTextRequest, componentId), componentId);
  command.Set(offsetof(DmiEnumTextRequest, groupId), groupId);
  command.Set(offsetof(DmiEnumTextRequest, attributeId), attributeId);
  command.Set(offsetof(DmiEnumTextRequest, value), value);
  return ExecuteForText(command, handle, componentId, text);
}

uint32_t AddRow(uint32_t handle, uint32_t componentId, uint32_t groupId,
                const std::vector<DmiKeyValue>& keys) {
  return RowCommand(kDmiRowCommand, handle, componentId, groupId, keys, nullptr);
}

uint32_t ReadRows(uint32_t handle, uint32_t componentId, uint32_t groupId,
                  std::vector<RowValues>* rows) {
  rows->clear();
  std::vector<AttributeInfo> attributes;
  if (const uint32_t status = ListAttributes(handle, componentId, groupId, &attributes)) {
    return status;
  }
  const bool unicode = IsUnicode(handle, componentId);
  RowValues row;
  uint32_t status = RowCommand(kDmiReadRowFirst, handle, componentId, groupId, {}, &row);
  while (status == kDmiOk) {
    rows->push_back(row);
    const std::vector<DmiKeyValue> keys = KeysOf(row, attributes, unicode);
    // A group without keys has its one row.
    if (keys.empty()) return kDmiOk;
    status = RowCommand(kDmiReadRowNext, handle, componentId, groupId, keys, &row);
  }
  // Reading past the last row is how the walk ends.
  return status == kDmiRowNotFound ? kDmiOk : status;
}

std::string RowValueText(uint32_t handle, uint32_t componentId, uint32_t groupId,
                         const RowValue& value) {
  if (value.type == kDmiInteger && value.value.size() == 4) {
    std::string text;
    if (GetEnumText(handle, componentId, groupId, value.attribute_id,
                    DmiLoad<int32_t>(value.value.data(), 0), &text) == kDmiOk) {
      return text;
    }
  }
  char text[4096] = "";
  DmiValueToText(static_cast<int>(value.type), value.value.data(), value.value.size(), text,
                 sizeof text, IsUnicode(handle, componentId));
  return text;
}

uint32_t AddComponent(uint32_t handle, const std::string& path, uint32_t* componentId) {
  CommandBlock command(kDmiAddComponent, handle,
                       static_cast<uint32_t>(std::max<size_t>(
                           sizeof(DmiAddComponentRequest) + path.size(), kCommandSize)));
  command.Set(offsetof(DmiAddComponentRequest, pathLength), static_cast<uint32_t>(path.size()));
  std::copy(path.begin(), path.end(), command.bytes() + sizeof(DmiAddComponentRequest));
  const uint32_t accepted = command.InvokeDirectly();
  if (!Succeeded(accepted)) return accepted;
  // Done when DmiInvoke returned: the status and the reply are in place.
  const uint32_t status = command.block()->status;
  if (!Succeeded(status)) return status;
  *componentId = DmiLoad<uint32_t>(command.reply(), 0);
  return kDmiOk;
}

uint32_t DeleteComponents(uint32_t handle, const std::string& componentClass, int* deleted) {
  *deleted = 0;
  std::vector<ComponentInfo> components;
  if (const uint32_t status = ListComponents(handle, componentClass, &components)) return status;
  for (const ComponentInfo& component : components) {
    CommandBlock command(kDmiDeleteComponent, handle);
    command.Set(offsetof(DmiComponentRequest, componentId), component.id);
    uint32_t status = command.InvokeDirectly();
    if (Succeeded(status)) status = command.block()->status;
    if (!Succeeded(status)) return status;
    ++*deleted;
  }
  return kDmiOk;
}

}  // namespace dmi
