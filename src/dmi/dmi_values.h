// Attribute values between their text form and the management interface:
// the value and key list texts of a set (the five arguments a DmiSetValue
// command line carries) converted to the interface's encoding, and a value
// read back from the interface turned into display text.
#ifndef SCHEDEXE_DMI_DMI_VALUES_H_
#define SCHEDEXE_DMI_DMI_VALUES_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace dmi {

// Longest display string or octet string a set sends (characters, octets).
inline constexpr size_t kDmiMaxStringLength = 4091;
// A date travels from a buffer of this size: at most 1023 characters.
inline constexpr size_t kDmiDateBufferSize = 1024;

// One key of a key list: an integer (type 5, `number`) or a display string
// (type 8, `text` in the ANSI code page).
struct DmiKeyValue {
  int32_t attribute_id;
  uint32_t type;
  int32_t number;
  std::string text;
};

// The keys of a key list text such as "A1|3" or "A1|3|A2|7", at most
// kDmiMaxKeys. Each key is "A", a decimal attribute id, one separator
// character and a value; an id of 0 ends the list, as does anything but "A"
// where a key should start. A value that reads as a decimal number other
// than 0, or starts with "0", is an integer key and the list goes on after
// the character that follows it; any other value is a display string key
// holding the whole rest of the text (at most kDmiMaxStringLength
// characters) and ends the list. So "A1|" gives one key, an empty display
// string, as does "A1", whose missing separator counts as an empty value.
std::vector<DmiKeyValue> ParseKeyList(const char* text);

// The value `text` converted for DMI type `type` into the bytes a set
// command carries (see DmiSetRequest):
//   1, 3, 5  strtol with base 0 (decimal, "0x" hexadecimal, "0" octal) as a
//            Windows long has it: out-of-range values stop at the 32-bit
//            limits; 4 bytes.
//   2, 6     the C runtime's _atoi64: blanks, a sign, decimal digits, no
//            overflow check, so the value wraps modulo 2^64 and the whole
//            range of an unsigned 64-bit counter can be written; 8 bytes.
//   7        pairs of hexadecimal digits, the first the high half, up to the
//            first pair that lacks its second character or
//            kDmiMaxStringLength octets; a digit counts as its value, any
//            other character as its code minus 55 ("A" 10 ... "F" 15; small
//            letters and other characters give what that rule gives);
//            a 32-bit length and the octets.
//   8        at most kDmiMaxStringLength characters; a 32-bit length and the
//            bytes, which for a `unicode` component are UTF-16 converted from
//            the ANSI code page, the length counting bytes.
//   11       the text unchanged, cut to fit kDmiDateBufferSize; NUL-ended.
// False, with `encoded` untouched, for any other type: the set refuses it.
bool ConvertDmiValue(int type, const char* text, bool unicode, std::string* encoded);

// A key's value as a set or row command carries it: type 5 in 4 bytes,
// type 8 as a type 8 value above.
std::string EncodeDmiKeyValue(const DmiKeyValue& key, bool unicode);

// Writes the display text of one attribute value of type `type`, encoded as
// the interface sends it (`valueLength` bytes at `value`), into `text`
// (`size` bytes, never more, NUL-ended; nothing when `size` is 0):
//   255           "Unable to access"
//   0, 5 / 1, 3   signed / unsigned decimal of 32 bits
//   2 / 6         unsigned / signed decimal of 64 bits
//   7             each octet as two capital hexadecimal digits, as many
//                 whole octets as fit
//   8             the text, from UTF-16 to the ANSI code page for a `unicode`
//                 component
//   11            the date repaired: completed from "19800101000000.000000+000"
//                 when shorter, cut to its 25 characters when longer, every
//                 non-digit where a digit belongs made "0", a year outside
//                 1980 to 2099 made 1980, a month or day out of range 01,
//                 an hour, minute or second out of range 00, "." before the
//                 microseconds, a sign other than "-" made "+"
// Texts longer than the buffer are cut. For any other type (4, 9, 10, 12 to
// 254, above 255), and for a value too short for its type, the buffer is
// left as it is.
void DmiValueToText(int type, const void* value, size_t valueLength, char* text, size_t size,
                    bool unicode);

}  // namespace dmi

#endif  // SCHEDEXE_DMI_DMI_VALUES_H_
