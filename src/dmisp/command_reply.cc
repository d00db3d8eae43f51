#include "dmisp/command_reply.h"

#include <algorithm>
#include <cstring>

#include "dmi/dmi_interface.h"

namespace dmisp {

namespace {

// Windows-1252 0x80 to 0x9F; the rest of the code page is Latin-1, whose
// bytes are their own code points. Unassigned bytes keep their value, as
// Windows' own conversion does.
constexpr uint16_t kHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

}  // namespace

std::string WireText(std::string_view ansi, bool unicode) {
  if (!unicode) return std::string(ansi);
  std::string wide;
  wide.reserve(ansi.size() * 2);
  for (const char c : ansi) {
    const auto byte = static_cast<uint8_t>(c);
    const uint16_t unit = byte >= 0x80 && byte < 0xA0 ? kHighControls[byte - 0x80] : byte;
    wide.push_back(static_cast<char>(unit & 0xFF));
    wide.push_back(static_cast<char>(unit >> 8));
  }
  return wide;
}

bool IsUnicode(std::string_view language) {
  return language.find("unicode") != std::string_view::npos;
}

std::string Words(std::initializer_list<uint32_t> words) {
  std::string bytes(words.size() * 4, '\0');
  size_t at = 0;
  for (const uint32_t word : words) {
    dmi::DmiStore(bytes.data(), at, word);
    at += 4;
  }
  return bytes;
}

uint32_t WriteListing(const std::vector<std::string>& entries, uint8_t* buffer, uint32_t length,
                      size_t* written) {
  size_t used = sizeof(dmi::DmiListReply);
  size_t count = 0;
  for (const std::string& entry : entries) {
    if (used + dmi::DmiPadded(entry.size()) > length) break;
    ++count;
    used += dmi::DmiPadded(entry.size());
  }
  if (written) *written = count;
  if (used > length || (count == 0 && !entries.empty())) return dmi::kDmiBufferTooSmall;
  size_t at = sizeof(dmi::DmiListReply);
  for (size_t i = 0; i < count; ++i) {
    const std::string& entry = entries[i];
    std::copy(entry.begin(), entry.end(), buffer + at);
    std::fill(buffer + at + entry.size(), buffer + at + dmi::DmiPadded(entry.size()), 0);
    at += dmi::DmiPadded(entry.size());
  }
  dmi::DmiStore(buffer, 0, static_cast<uint32_t>(count));
  return count == entries.size() ? dmi::kDmiOk : dmi::kDmiMoreData;
}

uint32_t WriteReply(std::string_view bytes, uint8_t* buffer, uint32_t length) {
  if (bytes.size() > length) return dmi::kDmiBufferTooSmall;
  std::memcpy(buffer, bytes.data(), bytes.size());
  return dmi::kDmiOk;
}

}  // namespace dmisp
