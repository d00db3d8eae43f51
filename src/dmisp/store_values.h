// Values of the provider's tables: how a value travels in a command, the
// checks a value passes before it is stored, and finding a row by its keys.
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

// Reads one value of `type` in its wire form from the start of `wire` (the
// bytes that are there; a value may end before them): 4 or 8 bytes for the
// numbers, a 32-bit length and its bytes for 7 and 8, a NUL-terminated text
// for 11. kDmiOk with the bytes used in *consumed; kDmiIllegalType for an
// unknown type; kDmiMalformedBlock when the value runs past `wire`.
uint32_t DecodeWireValue(uint32_t type, std::string_view wire, Value* value, size_t* consumed);
// The wire form of a stored value (the inverse of DecodeWireValue).
std::string EncodeWireValue(uint32_t type, const Value& value);

// Whether `value`, sent as `type`, may be stored in `attribute`: kDmiOk,
// kDmiIllegalType (not the attribute's type), kDmiValueTooLong (longer than
// its size), kDmiMalformedBlock (a number of the wrong length).
uint32_t CheckValue(const Attribute& attribute, uint32_t type, const Value& value);

// The attribute of `group` with that id, or null.
const Attribute* FindAttribute(const Group& group, uint32_t attribute_id);

// Whether row `a` comes before row `b` of `group` in key order: the key
// attributes in the group's order, numbers by value, texts byte by byte.
bool KeyOrderLess(const Group& group, const Row& a, const Row& b);

struct KeyValue {
  uint32_t attribute_id = 0;
  uint32_t type = 0;  // 5 or 8
  Value value;
};

// The first row of `group` that holds every key (no keys: the first row).
// kDmiOk with its index in *row; kDmiAttributeNotFound when a key names no
// key attribute of the group; kDmiIllegalType when a key's type is not its
// attribute's; kDmiRowNotFound when no row holds them.
uint32_t FindRow(const Group& group, const std::vector<KeyValue>& keys, size_t* row);

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_STORE_VALUES_H_
