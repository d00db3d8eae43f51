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

// A DmiListReply of `entries` (each padded to 4 bytes) into the buffer, as
// many as fit: kDmiOk when all did, kDmiMoreData when some did and more
// follow, kDmiBufferTooSmall when not even the count and the first entry
// fit (the buffer is then left as it was). *written: how many entries went.
uint32_t WriteListing(const std::vector<std::string>& entries, uint8_t* buffer, uint32_t length,
                      size_t* written = nullptr);

// One reply of `bytes` into the buffer: kDmiOk, or kDmiBufferTooSmall with
// nothing written.
uint32_t WriteReply(std::string_view bytes, uint8_t* buffer, uint32_t length);

}  // namespace dmisp

#endif  // SCHEDEXE_DMISP_COMMAND_REPLY_H_
