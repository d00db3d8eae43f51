// Reading a management command: the checks DmiInvoke makes before it accepts
// a block, and the decoding of keys and values once it has. The checks look
// only inside the block's own `commandLength` bytes, and read nothing past
// the 40-byte header before they know the block is at least that long.
#ifndef SCHEDEXE_DMISP_COMMAND_REQUEST_H_
#define SCHEDEXE_DMISP_COMMAND_REQUEST_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmisp/store_values.h"
#include "dmisp/table_store.h"

// A field of a request struct at `base`, read without alignment.
#define REQUEST_FIELD(base, Request, field) \
  dmi::DmiLoad<decltype(Request::field)>(base, offsetof(Request, field))

namespace dmisp {

// Bytes of the fixed part of a command code's request; 0 for a code the
// provider does not know.
uint32_t FixedRequestLength(uint32_t commandCode);

// kDmiOk when the block may be accepted as far as its own bytes tell (the
// handle is the provider's to check), else the status that refuses it: a
// null block or confirm buffer, a length below the fixed part, an offset,
// length or count reaching outside the block and more than 256 keys are
// kDmiMalformedBlock; a value or key type the interface does not know is
// kDmiIllegalType.
uint32_t CheckRequest(const dmi::DmiCommandBlock* block);

// The keys of a checked request (`request` is its copy, `commandLength`
// bytes), their values decoded as the store keeps them.
std::vector<KeyValue> RequestKeys(const std::vector<uint8_t>& request, uint32_t keyCount,
                                  uint32_t keyListOffset);

// The value at `offset` of a checked request, of a type CheckRequest let
// through, decoded as the store keeps it: 4 or 8 bytes for numbers, the
// bytes of a text or octet string without their length, a date without its
// NUL.
Value RequestValue(const std::vector<uint8_t>& request, uint32_t offset, uint32_t type);

// `value` (as the store keeps it) encoded for a reply: numbers in 4 or 8
// bytes, texts and octet strings with their 32-bit length, dates with a NUL.
std::string EncodeValue(const Value& value, uint32_t type);

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_COMMAND_REQUEST_H_
