#include "dmisp/command_reply.h"

#include <algorithm>
#include <cstring>

#include "dmi/dmi_interface.h"
#include "platform/code_page.h"

namespace dmisp {

std::string WireText(std::string_view ansi, bool unicode) {
  return unicode ? platform::AnsiToUtf16Le(ansi) : std::string(ansi);
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
