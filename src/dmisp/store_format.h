// The text of the table store file. It is a profile data file that a person
// can read:
//
//   [Store]                         Generation=<decimal>
//   [Component <id>]                Name=, Language=
//   [Component <c> Group <id>]      Name=, Class=, Keys=<ids separated by blanks>
//   [Component <c> Group <g> Attribute <id>]
//                                   Name=, Type=, Size=, Initial=, Enum <number>=<text>
//   [Component <c> Group <g> Row <n>]
//                                   A<attribute id>=<value>, rows in order n = 1, 2, ...
//
// The profile format trims values, drops a pair of outer quotes and ends a
// value at a line break or NUL, so texts are percent-encoded: every byte
// outside the printable ASCII range, '%', both quote characters and a blank
// at either end becomes %XX. Values are written by their attribute's type:
// numbers in decimal, octet strings as upper-case hexadecimal, display
// strings and dates as encoded texts. Sections may come in any order.
#ifndef SCHEDEXE_DMISP_STORE_FORMAT_H_
#define SCHEDEXE_DMISP_STORE_FORMAT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "dmisp/table_store.h"
#include "kvbase/profile_edit.h"
#include "kvbase/profile_text.h"

namespace dmisp {

std::string EncodeStoreText(std::string_view bytes);
// False when a '%' is not followed by two hexadecimal digits.
bool DecodeStoreText(std::string_view text, std::string* bytes);

// A value of `type` as the store writes it, and back. A number whose length
// does not fit its type is written as 'x' and its bytes in hexadecimal, so
// that even a faulty value reads back as it was.
std::string FormatStoreValue(uint32_t type, const Value& value);
bool ParseStoreValue(uint32_t type, std::string_view text, Value* value);

// The whole file, with `line_end` after every line.
std::string FormatStore(const Tables& tables, std::string_view line_end);

// The changes that turn a store holding `before` into one holding `after`:
// only the sections and keys whose text differs (written by the same code as
// FormatStore's), so that a store a person added to keeps every line the
// tables do not own.
std::vector<kvbase::ProfileChange> StoreChanges(const Tables& before, const Tables& after);

// False with the reason when the text is not a store this code wrote.
bool ParseStore(std::string_view raw, Tables* tables, std::string* error);
// The same from the text already parsed.
bool ParseStoreText(const kvbase::ProfileText& text, Tables* tables, std::string* error);

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_STORE_FORMAT_H_
