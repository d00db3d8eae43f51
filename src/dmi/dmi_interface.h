// The DMI 2.0 Win32 management interface as this project binds it: the
// command block, the request and reply of every command code, the callbacks,
// the indications, the statuses and the five entry points. Both sides include
// this one header: the DMI access library (the management application) and
// the provider libraries of src/dmisp (the service provider).
//
// Layout rules. Every number is a 32-bit unsigned integer in the machine's
// byte order unless its field says otherwise. A request starts with the
// command block and lies in one piece of memory of `commandLength` bytes;
// every offset in a request counts from the first byte of its block, every
// offset in a reply from the first byte of the confirm buffer. Entries of a
// listing follow one another, each padded to a multiple of 4 bytes
// (DmiPadded). Readers copy fields out with memcpy (DmiLoad): a reply buffer
// needs no alignment.
//
// A text is a length in bytes followed by its bytes, no NUL. For a component
// whose language string contains "unicode" every name and display string of
// that component travels as UTF-16LE (two bytes a character); for any other
// component as single-byte ANSI text.
#ifndef SCHEDEXE_DMI_DMI_INTERFACE_H_
#define SCHEDEXE_DMI_DMI_INTERFACE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace dmi {

// The field names are the interface's, not this project's naming.
// NOLINTBEGIN(readability-identifier-naming)

// "1IMD" in memory: the first field of every block.
inline constexpr uint32_t kLevelCheck = 0x444D4931;

// Command codes.
enum DmiCommandCode : uint32_t {
  kDmiRegister = 256,            // DmiRegisterRequest -> DmiRegisterReply
  kDmiUnregister = 257,          // the block alone -> no reply
  kDmiCancel = 258,              // the timed-out block itself -> no reply
  kDmiGetComponent = 512,        // DmiComponentRequest -> DmiNameReply
  kDmiListComponents = 513,      // DmiListComponentsRequest -> a listing
  kDmiListComponentsNext = 514,  //   the page after `afterId`
  kDmiGetGroup = 516,            // DmiGroupRequest -> DmiGroupReply
  kDmiListGroups = 517,          // DmiListGroupsRequest -> DmiListReply of DmiGroupEntry
  kDmiListGroupsNext = 518,
  kDmiGetEnumText = 520,     // DmiEnumTextRequest -> DmiNameReply
  kDmiListAttributes = 521,  // DmiListAttributesRequest -> DmiListReply of DmiAttributeEntry
  kDmiListAttributesNext = 522,
  kDmiRowCommand = 768,        // DmiRowRequest: adds the row the keys name -> no reply
  kDmiSetAttribute = 769,      // DmiSetRequest -> no reply
  kDmiReadRowFirst = 773,      // DmiRowRequest -> DmiRowReply
  kDmiReadRowNext = 774,       //   the row after the one the keys name
  kDmiAddComponent = 1026,     // DmiAddComponentRequest -> DmiAddComponentReply
  kDmiDeleteComponent = 1027,  // DmiComponentRequest -> no reply
};

// Statuses: what DmiInvoke returns and what the provider writes into
// `status` before it confirms. 0, 1, 512 and 526 are the interface's; the
// rest are this provider's own.
enum DmiStatus : uint32_t {
  kDmiOk = 0,
  // A listing filled its buffer and more entries follow: ask for the next
  // page (or, for the component cache, give a bigger buffer). DmiInvoke also
  // answers 1 for a command it accepted and will confirm later.
  kDmiMoreData = 1,
  kDmiBufferTooSmall = 512,  // not even the first entry (or the reply) fits
  kDmiCancelled = 526,       // written into a cancel block once it is done
  kDmiBadLevelCheck = 4097,
  kDmiUnknownHandle = 4098,  // not registered, or unregistered
  kDmiUnknownCommand = 4099,
  kDmiComponentNotFound = 4100,
  kDmiGroupNotFound = 4101,
  kDmiAttributeNotFound = 4102,
  kDmiRowNotFound = 4103,      // no row has the keys; also 774 after the last row
  kDmiIllegalType = 4104,      // a type code the interface does not know, or not the attribute's
  kDmiValueTooLong = 4105,     // longer than the attribute's size
  kDmiMalformedBlock = 4106,   // a length, offset or count pointing outside the block
  kDmiNoEnumeration = 4107,    // 520: the attribute has no text for that value
  kDmiBadDescription = 4108,   // 1026: the file is missing or does not parse
  kDmiStoreFailed = 4109,      // the table store could not be read or written
  kDmiRowExists = 4110,        // 768: a row with these keys is already there
  kDmiNoComponentId = 4111,    // 1026: every id from 1 to 4095 is taken
  kDmiNothingToCancel = 4112,  // 258 refused: nothing to take back (see DmiInvoke below)
  // Not the provider's: the access library's answer for every command after
  // one whose cancel was never confirmed (the provider stopped answering).
  kDmiProviderLost = 4113,
};

// Indication kinds.
enum DmiIndicationKind : uint32_t {
  kDmiEventIndication = 1,
  kDmiComponentAdded = 2,
  kDmiComponentDeleted = 3,
  kDmiComponentChanged = 4,  // a component's groups or languages changed
};

// Data types of attribute values.
enum DmiType : uint32_t {
  kDmiCounter = 1,        // 4 bytes
  kDmiCounter64 = 2,      // 8 bytes
  kDmiGauge = 3,          // 4 bytes
  kDmiInteger = 5,        // 4 bytes, signed
  kDmiInteger64 = 6,      // 8 bytes, signed
  kDmiOctetString = 7,    // a text of octets
  kDmiDisplayString = 8,  // a text
  kDmiDate = 11,          // NUL-terminated ANSI text, "19800101000000.000000+000"
};

// The management command block. The provider copies the request when
// DmiInvoke accepts it; later it writes only `status` and the confirm buffer
// (never more than `confirmLength` bytes), then calls the confirm callback.
struct DmiCommandBlock {
  uint32_t levelCheck;     // kLevelCheck
  uint32_t commandCode;    // DmiCommandCode
  uint32_t commandLength;  // bytes of the block with its request
  uint32_t handle;         // management handle; 0 in a register command
  uint32_t transactionId;  // the sender's; a cancel names the command by handle and this
  uint32_t requestCount;   // 1
  uint32_t status;         // DmiStatus, written by the provider
  uint32_t confirmLength;  // bytes of confirmBuffer
  uint8_t* confirmBuffer;  // the reply; never null
};
static_assert(sizeof(DmiCommandBlock) == 40);

struct DmiIndication {
  uint32_t kind;         // DmiIndicationKind
  uint32_t handle;       // the application it is sent to
  uint32_t componentId;  // the component added, deleted or changed; 0 for kind 1
  uint32_t generation;   // the store's generation that raised it
};

extern "C" {
// Called once per confirmed command, on a thread of the provider.
typedef void (*DmiConfirmFunc)(DmiCommandBlock* block);
// Called on a thread of the provider; the indication lives only for the call.
typedef void (*DmiIndicationFunc)(const DmiIndication* indication);
}

// 256. The reply gives the new handle.
struct DmiRegisterRequest {
  DmiCommandBlock block;
  DmiConfirmFunc confirm;
  DmiIndicationFunc indication;
};
struct DmiRegisterReply {
  uint32_t handle;
};

// 512 (one component's name) and 1027 (delete it).
struct DmiComponentRequest {
  DmiCommandBlock block;
  uint32_t componentId;
};

// A text of a reply: 512 (the component's name) and 520 (an enumeration's
// text). `length` bytes follow.
struct DmiNameReply {
  uint32_t length;
};

// Every listing reply: `count` entries follow, each padded to 4 bytes.
struct DmiListReply {
  uint32_t count;
};

// Bit of DmiListComponentsRequest::form.
inline constexpr uint32_t kDmiListWithClasses = 1;

// 513 and 514. Without kDmiListWithClasses each entry is a
// DmiComponentEntry (id and name); with it a DmiComponentClassesEntry (id and
// every group's class string with the group's id), the form the component
// cache keeps. The listing holds the components whose id is above `afterId`
// (513 ignores it: from the start), in ascending id, and when `classLength`
// is not 0, only those with a group class string that begins with the class
// (at most 80 bytes).
struct DmiListComponentsRequest {
  DmiCommandBlock block;
  uint32_t form;
  uint32_t afterId;
  uint32_t classLength;
  char componentClass[80];
};
struct DmiComponentEntry {
  uint32_t componentId;
  uint32_t nameLength;  // the name follows
};
struct DmiComponentClassesEntry {
  uint32_t componentId;
  uint32_t groupCount;  // that many DmiGroupClassEntry follow
};
struct DmiGroupClassEntry {
  uint32_t groupId;
  uint32_t classLength;  // the class string follows (always ANSI)
};

// 516: one group's two describing texts, its class string and its name.
struct DmiGroupRequest {
  DmiCommandBlock block;
  uint32_t componentId;
  uint32_t groupId;
};
struct DmiGroupReply {
  uint32_t classLength;  // the class string (ANSI) follows,
  uint32_t nameLength;   // then the name
};

// 517 and 518: the groups of a component with an id above `afterId`.
struct DmiListGroupsRequest {
  DmiCommandBlock block;
  uint32_t componentId;
  uint32_t afterId;
};
struct DmiGroupEntry {
  uint32_t groupId;
  uint32_t keyCount;    // how many key attributes name its rows (0: one row)
  uint32_t nameLength;  // the name follows
};

// 521 and 522: the attributes of a group with an id above `afterId`.
struct DmiListAttributesRequest {
  DmiCommandBlock block;
  uint32_t componentId;
  uint32_t groupId;
  uint32_t afterId;
};
struct DmiAttributeEntry {
  uint32_t attributeId;
  uint32_t type;        // DmiType
  uint32_t size;        // the longest value, in bytes (characters for ANSI texts)
  uint32_t keyIndex;    // 0, or its place (from 1) in the group's key list
  uint32_t nameLength;  // the name follows
};

// 520: the text that names `value` of an enumerated attribute.
struct DmiEnumTextRequest {
  DmiCommandBlock block;
  uint32_t componentId;
  uint32_t groupId;
  uint32_t attributeId;
  int32_t value;
};

// A key of a key list: the attribute, its type (5 or 8) and where its value
// (encoded as DmiValue describes) lies.
struct DmiKey {
  uint32_t attributeId;
  uint32_t type;
  uint32_t valueOffset;
};
inline constexpr uint32_t kDmiMaxKeys = 256;

// 768 (add the row the keys name; its other attributes take their initial
// values), 773 (read the row the keys name, or the first row without keys)
// and 774 (read the row after the one the keys name). keyCount DmiKey at
// keyListOffset; the key values follow the table.
struct DmiRowRequest {
  DmiCommandBlock block;
  uint32_t componentId;
  uint32_t groupId;
  uint32_t keyCount;
  uint32_t keyListOffset;
};
// 773 and 774: every attribute of the row, in ascending id, each a
// DmiRowValue followed by its value as DmiValue describes, padded.
struct DmiRowReply {
  uint32_t count;
};
struct DmiRowValue {
  uint32_t attributeId;
  uint32_t type;
  uint32_t valueLength;  // bytes of the encoded value that follows
};

// 769: the fixed part is 88 bytes and the value follows it at once; the
// key list lies after the value. Values by type (DmiValue): 1, 3 and 5 four
// bytes; 2 and 6 eight bytes; 7 and 8 a 32-bit length and that many bytes;
// 11 a NUL-terminated text.
struct DmiSetRequest {
  DmiCommandBlock block;
  uint32_t componentId;
  uint32_t groupId;
  uint32_t attributeId;
  uint32_t type;
  uint32_t keyCount;
  uint32_t keyListOffset;
  uint32_t valueOffset;  // sizeof(DmiSetRequest)
  uint32_t valueLength;  // bytes of the encoded value
  uint32_t reserved[4];  // 0
};
static_assert(sizeof(DmiSetRequest) == 88);

// 1026: installs the component description file whose path (`pathLength`
// bytes, ANSI) follows. Done when DmiInvoke returns: status and reply are
// in place, and the confirm still follows.
struct DmiAddComponentRequest {
  DmiCommandBlock block;
  uint32_t pathLength;
};
struct DmiAddComponentReply {
  uint32_t componentId;
};

// DmiListLanguages fills a DmiListReply of language strings, each a 32-bit
// length and its ANSI bytes, padded.

// NOLINTEND(readability-identifier-naming)

// Reads a field of type T at `offset` of a buffer that needs no alignment.
template <typename T>
T DmiLoad(const void* base, size_t offset) {
  T value;
  std::memcpy(&value, static_cast<const uint8_t*>(base) + offset, sizeof value);
  return value;
}
template <typename T>
void DmiStore(void* base, size_t offset, const T& value) {
  std::memcpy(static_cast<uint8_t*>(base) + offset, &value, sizeof value);
}
// `length` rounded up to the next multiple of 4.
constexpr size_t DmiPadded(size_t length) { return (length + 3) & ~static_cast<size_t>(3); }

// The five entry points. Each returns a DmiStatus.
//
// DmiInvoke: accepts a command (0 or 1) or refuses it at once with a failure
//   status and then never confirms it. An accepted command runs on the
//   provider's thread and is confirmed exactly once, except that a command
//   whose cancel (258) has been accepted never confirms; the cancel does.
//   1026 and 1027 are executed before DmiInvoke returns, then confirmed.
// A cancel is the outstanding block itself with its code changed to 258.
//   It is accepted, and confirmed with kDmiCancelled, while the command has
//   made no effect yet: still queued, or running but not past its commit
//   (for a change of the store, the check made under the store's lock just
//   before the file is replaced, so a command waiting for another writer of
//   the store is taken back however long it waits; for a registration or an
//   unregistration, before the handle is made or ended; for a read, before
//   its reply is written). The command then changes nothing and writes
//   nothing into its block or confirm buffer. A cancel that comes after the
//   commit, or names nothing outstanding, is refused with
//   kDmiNothingToCancel and never confirms; the command confirms as usual.
//   The cancel's confirm comes on a thread of the provider that a stuck
//   command does not hold up.
// DmiIndicate: delivers now, on the provider's thread, every indication due
//   to `handle` (a change of the store made by any process since the handle
//   last heard of one). The provider also does this before it confirms each
//   command of the handle; DmiIndicate is for an application that waits
//   without sending commands.
// DmiRegister: registers an application that will not send commands (it gets
//   no confirms and no indications); the handle serves DmiListLanguages.
// DmiUnregister: ends a DmiRegister handle.
// DmiListLanguages: the language strings of component `componentId` into
//   `list` (`listLength` bytes), the component's own language first.
extern "C" {
typedef uint32_t (*DmiInvokeFunc)(DmiCommandBlock* block);
typedef uint32_t (*DmiIndicateFunc)(uint32_t handle);
typedef uint32_t (*DmiRegisterFunc)(uint32_t* handle);
typedef uint32_t (*DmiUnregisterFunc)(uint32_t handle);
typedef uint32_t (*DmiListLanguagesFunc)(uint32_t handle, uint32_t componentId, uint8_t* list,
                                         uint32_t listLength);
}

}  // namespace dmi

#endif  // SCHEDEXE_DMI_DMI_INTERFACE_H_
