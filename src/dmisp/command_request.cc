#include "dmisp/command_request.h"

#include <cstddef>

#include "dmisp/store_values.h"

namespace dmisp {

namespace {

using dmi::DmiLoad;

// Whether a value of `type` at `offset` lies wholly before `end` (all
// 64-bit, so no sum wraps). kDmiOk, kDmiIllegalType or kDmiMalformedBlock.
uint32_t CheckValue(const uint8_t* base, uint64_t offset, uint64_t end, uint32_t type) {
  if (!IsKnownType(type)) return dmi::kDmiIllegalType;
  if (const size_t fixed = FixedValueSize(type)) {
    return offset + fixed <= end ? dmi::kDmiOk : dmi::kDmiMalformedBlock;
  }
  if (type == dmi::kDmiDate) {
    for (uint64_t at = offset; at < end; ++at) {
      if (base[at] == 0) return dmi::kDmiOk;
    }
    return dmi::kDmiMalformedBlock;
  }
  if (offset + 4 > end) return dmi::kDmiMalformedBlock;
  const uint64_t length = DmiLoad<uint32_t>(base, static_cast<size_t>(offset));
  return offset + 4 + length <= end ? dmi::kDmiOk : dmi::kDmiMalformedBlock;
}

uint32_t CheckKeys(const uint8_t* base, uint32_t length, uint32_t keyCount,
                   uint32_t keyListOffset) {
  if (keyCount > dmi::kDmiMaxKeys) return dmi::kDmiMalformedBlock;
  if (static_cast<uint64_t>(keyListOffset) + uint64_t{keyCount} * sizeof(dmi::DmiKey) > length) {
    return dmi::kDmiMalformedBlock;
  }
  for (uint32_t i = 0; i < keyCount; ++i) {
    const size_t at = keyListOffset + i * sizeof(dmi::DmiKey);
    const auto key = DmiLoad<dmi::DmiKey>(base, at);
    if (key.type != dmi::kDmiInteger && key.type != dmi::kDmiDisplayString) {
      return dmi::kDmiIllegalType;
    }
    if (const uint32_t status = CheckValue(base, key.valueOffset, length, key.type)) return status;
  }
  return dmi::kDmiOk;
}

}  // namespace

uint32_t FixedRequestLength(uint32_t commandCode) {
  switch (commandCode) {
    case dmi::kDmiRegister:
      return sizeof(dmi::DmiRegisterRequest);
    case dmi::kDmiUnregister:
    case dmi::kDmiCancel:
      return sizeof(dmi::DmiCommandBlock);
    case dmi::kDmiGetComponent:
    case dmi::kDmiDeleteComponent:
      return sizeof(dmi::DmiComponentRequest);
    case dmi::kDmiListComponents:
    case dmi::kDmiListComponentsNext:
      return sizeof(dmi::DmiListComponentsRequest);
    case dmi::kDmiGetGroup:
      return sizeof(dmi::DmiGroupRequest);
    case dmi::kDmiListGroups:
    case dmi::kDmiListGroupsNext:
      return sizeof(dmi::DmiListGroupsRequest);
    case dmi::kDmiGetEnumText:
      return sizeof(dmi::DmiEnumTextRequest);
    case dmi::kDmiListAttributes:
    case dmi::kDmiListAttributesNext:
      return sizeof(dmi::DmiListAttributesRequest);
    case dmi::kDmiRowCommand:
    case dmi::kDmiReadRowFirst:
    case dmi::kDmiReadRowNext:
      return sizeof(dmi::DmiRowRequest);
    case dmi::kDmiSetAttribute:
      return sizeof(dmi::DmiSetRequest);
    case dmi::kDmiAddComponent:
      return sizeof(dmi::DmiAddComponentRequest);
    default:
      return 0;
  }
}

uint32_t CheckRequest(const dmi::DmiCommandBlock* block) {
  if (block == nullptr) return dmi::kDmiMalformedBlock;
  if (block->levelCheck != dmi::kLevelCheck) return dmi::kDmiBadLevelCheck;
  const uint32_t fixed = FixedRequestLength(block->commandCode);
  if (fixed == 0) return dmi::kDmiUnknownCommand;
  const uint32_t length = block->commandLength;
  if (length < fixed || block->confirmBuffer == nullptr) return dmi::kDmiMalformedBlock;
  const auto* base = reinterpret_cast<const uint8_t*>(block);
  switch (block->commandCode) {
    case dmi::kDmiRegister:
      // Every accepted command is confirmed, so there must be somewhere to.
      return REQUEST_FIELD(base, dmi::DmiRegisterRequest, confirm) ? dmi::kDmiOk
                                                                   : dmi::kDmiMalformedBlock;
    case dmi::kDmiListComponents:
    case dmi::kDmiListComponentsNext:
      return REQUEST_FIELD(base, dmi::DmiListComponentsRequest, classLength) <=
                     sizeof(dmi::DmiListComponentsRequest::componentClass)
                 ? dmi::kDmiOk
                 : dmi::kDmiMalformedBlock;
    case dmi::kDmiRowCommand:
    case dmi::kDmiReadRowFirst:
    case dmi::kDmiReadRowNext:
      return CheckKeys(base, length, REQUEST_FIELD(base, dmi::DmiRowRequest, keyCount),
                       REQUEST_FIELD(base, dmi::DmiRowRequest, keyListOffset));
    case dmi::kDmiSetAttribute: {
      const uint64_t offset = REQUEST_FIELD(base, dmi::DmiSetRequest, valueOffset);
      const uint64_t end = offset + REQUEST_FIELD(base, dmi::DmiSetRequest, valueLength);
      if (end > length) {
        // Still a type the interface lacks is told apart from a bad length.
        return IsKnownType(REQUEST_FIELD(base, dmi::DmiSetRequest, type)) ? dmi::kDmiMalformedBlock
                                                                          : dmi::kDmiIllegalType;
      }
      if (const uint32_t status =
              CheckValue(base, offset, end, REQUEST_FIELD(base, dmi::DmiSetRequest, type))) {
        return status;
      }
      return CheckKeys(base, length, REQUEST_FIELD(base, dmi::DmiSetRequest, keyCount),
                       REQUEST_FIELD(base, dmi::DmiSetRequest, keyListOffset));
    }
    case dmi::kDmiAddComponent:
      return REQUEST_FIELD(base, dmi::DmiAddComponentRequest, pathLength) <= length - fixed
                 ? dmi::kDmiOk
                 : dmi::kDmiMalformedBlock;
    default:
      return dmi::kDmiOk;
  }
}

std::vector<KeyValue> RequestKeys(const std::vector<uint8_t>& request, uint32_t keyCount,
                                  uint32_t keyListOffset) {
  std::vector<KeyValue> keys;
  for (uint32_t i = 0; i < keyCount; ++i) {
    const auto key = DmiLoad<dmi::DmiKey>(request.data(), keyListOffset + i * sizeof(dmi::DmiKey));
    keys.push_back({key.attributeId, key.type, RequestValue(request, key.valueOffset, key.type)});
  }
  return keys;
}

Value RequestValue(const std::vector<uint8_t>& request, uint32_t offset, uint32_t type) {
  const auto* at = reinterpret_cast<const char*>(request.data()) + offset;
  if (const size_t fixed = FixedValueSize(type)) return Value(at, fixed);
  if (type == dmi::kDmiDate) return Value(at);  // the check found its NUL
  return Value(at + 4, DmiLoad<uint32_t>(request.data(), offset));
}

std::string EncodeValue(const Value& value, uint32_t type) {
  if (const size_t fixed = FixedValueSize(type)) {
    // A stored number is always its full width; anything else is padded or
    // cut rather than sent at the wrong width.
    std::string number = value.substr(0, fixed);
    number.resize(fixed, '\0');
    return number;
  }
  if (type == dmi::kDmiDate) return value + '\0';
  std::string text(4, '\0');
  dmi::DmiStore(text.data(), 0, static_cast<uint32_t>(value.size()));
  return text + value;
}

}  // namespace dmisp
