#include "dmisp/command_reply.h"

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

void Reply::CopyTo(uint8_t* buffer) const {
  if (!bytes.empty()) std::memcpy(buffer, bytes.data(), bytes.size());
}

uint32_t WriteListing(const std::vector<std::string>& entries, Reply* reply, size_t* written) {
  size_t used = sizeof(dmi::DmiListReply);
  size_t count = 0;
  for (const std::string& entry : entries) {
    if (used + dmi::DmiPadded(entry.size()) > reply->capacity) break;
    ++count;
    used += dmi::DmiPadded(entry.size());
  }
  if (written) *written = count;
  if (used > reply->capacity || (count == 0 && !entries.empty())) return dmi::kDmiBufferTooSmall;
  std::string& out = reply->bytes;
  out.assign(sizeof(dmi::DmiListReply), '\0');
  out.reserve(used);
  dmi::DmiStore(out.data(), 0, static_cast<uint32_t>(count));
  for (size_t i = 0; i < count; ++i) {
    out += entries[i];
    out.resize(dmi::DmiPadded(out.size()), '\0');
  }
  return count == entries.size() ? dmi::kDmiOk : dmi::kDmiMoreData;
}

uint32_t WriteReply(std::string_view bytes, Reply* reply) {
  if (bytes.size() > reply->capacity) return dmi::kDmiBufferTooSmall;
  reply->bytes.assign(bytes);
  return dmi::kDmiOk;
}

}  // namespace dmisp
