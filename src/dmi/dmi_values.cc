#include "dmi/dmi_values.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "dmi/dmi_interface.h"
#include "platform/code_page.h"

namespace dmi {

namespace {

constexpr char kUnableToAccess[] = "Unable to access";
constexpr std::string_view kDefaultDate = "19800101000000.000000+000";

// strtol as it behaves where long has 32 bits, whatever the width of long
// here, so that both builds read the same numbers.
int32_t Strtol32(const char* text, const char** end, int base) {
  char* stop = nullptr;
  const long value = std::strtol(text, &stop, base);
  if (end) *end = stop;
  return static_cast<int32_t>(std::clamp<long>(value, INT32_MIN, INT32_MAX));
}

// _atoi64 of the Windows C runtime the DMI setters were built with: white
// space, one sign, decimal digits; it does not check for overflow.
int64_t Atoi64(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  const bool minus = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  uint64_t total = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    total = total * 10 + static_cast<uint64_t>(*text - '0');
  }
  return static_cast<int64_t>(minus ? 0 - total : total);
}

template <typename T>
std::string Bytes(T value) {
  std::string bytes(sizeof value, '\0');
  DmiStore(bytes.data(), 0, value);
  return bytes;
}

// A 32-bit byte count and the bytes.
std::string Counted(std::string_view bytes) {
  return Bytes(static_cast<uint32_t>(bytes.size())).append(bytes);
}

std::string DisplayString(std::string_view ansi, bool unicode) {
  return Counted(unicode ? platform::AnsiToUtf16Le(ansi) : std::string(ansi));
}

std::string OctetString(const char* hex) {
  const auto half = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : static_cast<unsigned char>(c) - 55;
  };
  std::string octets;
  for (; hex[0] != '\0' && hex[1] != '\0' && octets.size() < kDmiMaxStringLength; hex += 2) {
    octets.push_back(static_cast<char>((half(hex[0]) << 4) + half(hex[1])));
  }
  return Counted(octets);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Dates other programs wrote may be short or garbled; they are shown as a
// well-formed date rather than as they stand.
std::string RepairDate(std::string_view date) {
  std::string d(date.substr(0, kDefaultDate.size()));
  d += kDefaultDate.substr(d.size());
  const auto digits = [&](size_t from, size_t to) {
    for (size_t i = from; i < to; ++i) {
      if (!IsDigit(d[i])) d[i] = '0';
    }
  };
  // A field out of [low, high] becomes `fallback`.
  const auto field = [&](size_t at, size_t length, int low, int high, const char* fallback) {
    const int value = std::atoi(d.substr(at, length).c_str());
    if (value < low || value > high) d.replace(at, length, fallback);
  };
  digits(0, 14);
  field(0, 4, 1980, 2099, "1980");
  field(4, 2, 1, 12, "01");
  field(6, 2, 1, 31, "01");
  field(8, 2, 0, 23, "00");
  field(10, 2, 0, 59, "00");
  field(12, 2, 0, 59, "00");
  d[14] = '.';
  digits(15, 21);
  if (d[21] != '-' && d[21] != '+') d[21] = '+';
  digits(22, 25);
  return d;
}

void Put(std::string_view shown, char* text, size_t size) {
  const size_t length = std::min(shown.size(), size - 1);
  std::memcpy(text, shown.data(), length);
  text[length] = '\0';
}

}  // namespace

std::vector<DmiKeyValue> ParseKeyList(const char* text) {
  std::vector<DmiKeyValue> keys;
  const char* p = text ? text : "";
  // Past the number just read, and past the one character after it (the
  // separator) unless the text ends there.
  const auto skip = [&p](const char* end) { p = *end ? end + 1 : end; };
  while (p[0] == 'A' && p[1] != '\0' && keys.size() < kDmiMaxKeys) {
    const char* end = nullptr;
    const int32_t id = Strtol32(p + 1, &end, 10);
    if (id == 0) break;
    skip(end);
    // A 0 is a number only when written with a leading "0": "-0" and " 0"
    // are texts.
    const int32_t number = Strtol32(p, &end, 10);
    if (number == 0 && *p != '0') {
      keys.push_back({id, kDmiDisplayString, 0, std::string(p, strnlen(p, kDmiMaxStringLength))});
      break;
    }
    keys.push_back({id, kDmiInteger, number, ""});
    skip(end);
  }
  return keys;
}

bool ConvertDmiValue(int type, const char* text, bool unicode, std::string* encoded) {
  if (!text) text = "";
  switch (type) {
    case kDmiCounter:
    case kDmiGauge:
    case kDmiInteger:
      *encoded = Bytes(Strtol32(text, nullptr, 0));
      return true;
    case kDmiCounter64:
    case kDmiInteger64:
      *encoded = Bytes(Atoi64(text));
      return true;
    case kDmiOctetString:
      *encoded = OctetString(text);
      return true;
    case kDmiDisplayString:
      *encoded = DisplayString(std::string_view(text, strnlen(text, kDmiMaxStringLength)), unicode);
      return true;
    case kDmiDate:
      encoded->assign(text, strnlen(text, kDmiDateBufferSize - 1));
      encoded->push_back('\0');
      return true;
    default:
      return false;
  }
}

std::string EncodeDmiKeyValue(const DmiKeyValue& key, bool unicode) {
  return key.type == kDmiInteger ? Bytes(key.number) : DisplayString(key.text, unicode);
}

void DmiValueToText(int type, const void* value, size_t valueLength, char* text, size_t size,
                    bool unicode) {
  if (!text || size == 0) return;
  if (type == 255) return Put(kUnableToAccess, text, size);
  // Widths of the fixed-size types; texts start with their 32-bit length.
  const size_t needed = type == 2 || type == 6 ? 8 : 4;
  if (type < 0 || type > 11 || type == 4 || type == 9 || type == 10 || !value ||
      (type != kDmiDate && valueLength < needed)) {
    return;
  }
  const auto* bytes = static_cast<const uint8_t*>(value);
  const auto counted = [&] {
    const size_t length = std::min<size_t>(DmiLoad<uint32_t>(bytes, 0), valueLength - 4);
    return std::string_view(reinterpret_cast<const char*>(bytes) + 4, length);
  };
  switch (type) {
    case 0:
    case kDmiInteger:
      return Put(std::to_string(DmiLoad<int32_t>(bytes, 0)), text, size);
    case kDmiCounter:
    case kDmiGauge:
      return Put(std::to_string(DmiLoad<uint32_t>(bytes, 0)), text, size);
    case kDmiCounter64:
      return Put(std::to_string(DmiLoad<uint64_t>(bytes, 0)), text, size);
    case kDmiInteger64:
      return Put(std::to_string(DmiLoad<int64_t>(bytes, 0)), text, size);
    case kDmiOctetString: {
      static constexpr char kHex[] = "0123456789ABCDEF";
      std::string hex;
      for (const char octet : counted()) {
        if (hex.size() + 2 > size - 1) break;
        hex += kHex[static_cast<uint8_t>(octet) >> 4];
        hex += kHex[static_cast<uint8_t>(octet) & 15];
      }
      return Put(hex, text, size);
    }
    case kDmiDisplayString: {
      const std::string_view string = counted();
      return Put(unicode ? platform::Utf16LeToAnsi(string) : std::string(string), text, size);
    }
    case kDmiDate: {
      const auto* date = reinterpret_cast<const char*>(bytes);
      return Put(RepairDate(std::string_view(date, strnlen(date, valueLength))), text, size);
    }
    default:
      return;
  }
}

}  // namespace dmi
