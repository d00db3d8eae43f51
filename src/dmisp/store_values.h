// Values of the provider's tables: their types and stored forms, the checks
// a value passes before it is stored, and finding a row by its keys.
#ifndef SCHEDEXE_DMISP_STORE_VALUES_H_
#define SCHEDEXE_DMISP_STORE_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dmisp/table_store.h"

namespace dmisp {

// The type codes the interface knows: 1, 2, 3, 5, 6, 7, 8 and 11.
bool IsKnownType(uint32_t type);
// Bytes of a number of that type (4 or 8); 0 for the text types.
size_t FixedValueSize(uint32_t type);

// The language string names a component whose texts travel as UTF-16LE.
bool IsUnicodeLanguage(std::string_view language);

// The stored form of numbers.
Value Int32Value(int32_t number);
Value Int64Value(int64_t number);
// A 4- or 8-byte value as a signed number (0 for any other length).
int64_t NumberOf(const Value& value);

// Whether `value`, sent as `type`, may be stored in `attribute`: kDmiOk,
// kDmiIllegalType (not the attribute's type), kDmiValueTooLong (longer than
// its size, which holds for every text: one of size 0 takes only the empty
// value), kDmiMalformedBlock (a number of the wrong length).
uint32_t CheckValue(const Attribute& attribute, uint32_t type, const Value& value);

// The attribute of `group` with that id, or null.
const Attribute* FindAttribute(const Group& group, uint32_t attribute_id);

// Whether row `a` comes before row `b` of `group` in key order: the key
// attributes in the group's order, numbers by value, texts byte by byte.
bool KeyOrderLess(const Group& group, const Row& a, const Row& b);

// What a row holds for `attribute`: its value, else the initial value.
const Value& ValueOf(const Row& row, const Attribute& attribute);

// A key of a request: an attribute id, the key's type (5 or 8) and its value
// as the store keeps it.
struct KeyValue {
  uint32_t attribute_id = 0;
  uint32_t type = 0;
  Value value;
};

// Whether a key of `keyType` can name a key attribute of `attributeType`: a
// display string names a display string; an integer any 32-bit number
// (integer, counter, gauge), whose stored form is the same four bytes.
bool KeyFits(uint32_t keyType, uint32_t attributeType);

// Whether every key names a key attribute of `group`: kDmiOk;
// kDmiAttributeNotFound for a key whose attribute is not in the group's key
// list (so any key at all for a group without keys); kDmiIllegalType for a
// key whose type cannot name its attribute.
uint32_t CheckRowKeys(const Group& group, const std::vector<KeyValue>& keys);

// The row that the keys name, once CheckRowKeys lets them through: the one
// row of a group without keys (named with no keys), else the first row
// whose values equal every key's; no keys name no row of a keyed group.
// kDmiOk with its index in *row, the status of CheckRowKeys, or
// kDmiRowNotFound.
uint32_t FindRow(const Group& group, const std::vector<KeyValue>& keys, size_t* row);

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_STORE_VALUES_H_
