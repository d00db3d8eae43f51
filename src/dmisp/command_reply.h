// Writing replies into a confirm buffer: listings that page, single replies
// that fit or are refused, and texts in the component's own encoding. Nothing
// is ever written past the buffer's length.
#ifndef SCHEDEXE_DMISP_COMMAND_REPLY_H_
#define SCHEDEXE_DMISP_COMMAND_REPLY_H_

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace dmisp {

// A name as it goes out for a component: the stored ANSI text, or for a
// unicode component (IsUnicodeLanguage) that text in UTF-16LE.
std::string WireText(std::string_view ansi, bool unicode);

// The bytes of 32-bit numbers in machine order, for building entries.
std::string Words(std::initializer_list<uint32_t> words);

// A reply on its way to a confirm buffer of `capacity` bytes. It is built
// here and reaches the sender's buffer only once the command is done, so a
// command that a cancel took back never writes into memory its sender has
// let go of, and nothing is allocated for room the reply does not use.
struct Reply {
  uint32_t capacity = 0;
  std::string bytes;  // from the buffer's first byte on; never above capacity

  // Copies the bytes into the sender's buffer (the rest stays as it was).
  void CopyTo(uint8_t* buffer) const;
};

// A DmiListReply of `entries` (each padded to 4 bytes), as many as fit:
// kDmiOk when all did, kDmiMoreData when some did and more follow,
// kDmiBufferTooSmall when not even the count and the first entry fit (the
// reply then stays empty). *written: how many entries went.
uint32_t WriteListing(const std::vector<std::string>& entries, Reply* reply,
                      size_t* written = nullptr);

// One reply of `bytes`: kDmiOk, or kDmiBufferTooSmall with nothing written.
uint32_t WriteReply(std::string_view bytes, Reply* reply);

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_COMMAND_REPLY_H_
