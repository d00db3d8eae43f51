#include "dmisp/store_values.h"

#include <algorithm>
#include <cstring>

#include "dmi/dmi_interface.h"
#include "kvbase/profile_text.h"

namespace dmisp {

bool IsKnownType(uint32_t type) {
  switch (type) {
    case dmi::kDmiCounter:
    case dmi::kDmiCounter64:
    case dmi::kDmiGauge:
    case dmi::kDmiInteger:
    case dmi::kDmiInteger64:
    case dmi::kDmiOctetString:
    case dmi::kDmiDisplayString:
    case dmi::kDmiDate:
      return true;
    default:
      return false;
  }
}

size_t FixedValueSize(uint32_t type) {
  switch (type) {
    case dmi::kDmiCounter:
    case dmi::kDmiGauge:
    case dmi::kDmiInteger:
      return 4;
    case dmi::kDmiCounter64:
    case dmi::kDmiInteger64:
      return 8;
    default:
      return 0;
  }
}

bool IsUnicodeLanguage(std::string_view language) {
  return language.find("unicode") != std::string_view::npos;
}

Value Int32Value(int32_t number) {
  Value v(4, '\0');
  std::memcpy(v.data(), &number, 4);
  return v;
}

Value Int64Value(int64_t number) {
  Value v(8, '\0');
  std::memcpy(v.data(), &number, 8);
  return v;
}

int64_t NumberOf(const Value& value) {
  if (value.size() == 4) {
    int32_t n = 0;
    std::memcpy(&n, value.data(), 4);
    return n;
  }
  if (value.size() == 8) {
    int64_t n = 0;
    std::memcpy(&n, value.data(), 8);
    return n;
  }
  return 0;
}

uint32_t CheckValue(const Attribute& attribute, uint32_t type, const Value& value) {
  if (type != attribute.type || !IsKnownType(type)) return dmi::kDmiIllegalType;
  if (const size_t fixed = FixedValueSize(type)) {
    return value.size() == fixed ? dmi::kDmiOk : dmi::kDmiMalformedBlock;
  }
  if (type == dmi::kDmiDate && value.find('\0') != Value::npos) return dmi::kDmiMalformedBlock;
  return value.size() <= attribute.size ? dmi::kDmiOk : dmi::kDmiValueTooLong;
}

const Attribute* FindAttribute(const Group& group, uint32_t attribute_id) {
  for (const Attribute& a : group.attributes) {
    if (a.id == attribute_id) return &a;
  }
  return nullptr;
}

bool KeyOrderLess(const Group& group, const Row& a, const Row& b) {
  for (const uint32_t id : group.keyIds) {
    const Attribute* attribute = FindAttribute(group, id);
    const auto ia = a.values.find(id);
    const auto ib = b.values.find(id);
    const Value va = ia == a.values.end() ? Value() : ia->second;
    const Value vb = ib == b.values.end() ? Value() : ib->second;
    if (va == vb) continue;
    const uint32_t type = attribute ? attribute->type : 0;
    if (FixedValueSize(type) == va.size() && va.size() == vb.size()) {
      if (type == dmi::kDmiInteger || type == dmi::kDmiInteger64)
        return NumberOf(va) < NumberOf(vb);
      return static_cast<uint64_t>(NumberOf(va)) < static_cast<uint64_t>(NumberOf(vb));
    }
    return va < vb;
  }
  return false;
}

const Value& ValueOf(const Row& row, const Attribute& attribute) {
  const auto it = row.values.find(attribute.id);
  return it == row.values.end() ? attribute.initial : it->second;
}

bool KeyFits(uint32_t keyType, uint32_t attributeType) {
  if (keyType == dmi::kDmiDisplayString) return attributeType == dmi::kDmiDisplayString;
  return keyType == dmi::kDmiInteger &&
         (attributeType == dmi::kDmiCounter || attributeType == dmi::kDmiGauge ||
          attributeType == dmi::kDmiInteger);
}

uint32_t CheckRowKeys(const Group& group, const std::vector<KeyValue>& keys) {
  for (const KeyValue& key : keys) {
    const Attribute* attribute = FindAttribute(group, key.attribute_id);
    if (!attribute || std::find(group.keyIds.begin(), group.keyIds.end(), key.attribute_id) ==
                          group.keyIds.end()) {
      return dmi::kDmiAttributeNotFound;
    }
    if (!KeyFits(key.type, attribute->type)) return dmi::kDmiIllegalType;
  }
  return dmi::kDmiOk;
}

uint32_t FindRow(const Group& group, const std::vector<KeyValue>& keys, size_t* row) {
  if (const uint32_t status = CheckRowKeys(group, keys)) return status;
  if (group.keyIds.empty()) {
    *row = 0;
    return group.rows.empty() ? dmi::kDmiRowNotFound : dmi::kDmiOk;
  }
  if (keys.empty()) return dmi::kDmiRowNotFound;
  for (size_t i = 0; i < group.rows.size(); ++i) {
    const bool match = std::all_of(keys.begin(), keys.end(), [&](const KeyValue& key) {
      return ValueOf(group.rows[i], *FindAttribute(group, key.attribute_id)) == key.value;
    });
    if (match) {
      *row = i;
      return dmi::kDmiOk;
    }
  }
  return dmi::kDmiRowNotFound;
}

}  // namespace dmisp
