// The profile file as the Windows profile functions see it: lines, sections
// and keys, with the raw position of every line so that a write can change
// one line and keep every other byte.
#ifndef SCHEDEXE_KVBASE_PROFILE_TEXT_H_
#define SCHEDEXE_KVBASE_PROFILE_TEXT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kvbase {

// Names and values are kept as ANSI (Windows-1252) bytes, the text the "A"
// profile functions hand out; files with a UTF-8 or UTF-16 byte order mark
// are converted line by line, as Windows does.
enum class TextEncoding { kAnsi, kUtf8, kUtf16Le, kUtf16Be };

// The encoding that the first bytes of a file announce, and the length of
// that byte order mark (0 for ANSI) in *mark_length when given.
TextEncoding EncodingOf(std::string_view raw, size_t* mark_length = nullptr);

// Whitespace and case as the profile functions apply them to ANSI text.
bool IsProfileSpace(unsigned char c);
// The one spelling of every section or key name that the profile functions
// take as the same name.
std::string FoldProfileName(std::string_view text);
std::string_view TrimProfileSpace(std::string_view text);

struct ProfileLine {
  size_t begin = 0;        // raw offset of the first byte
  size_t content_end = 0;  // raw offset of the line end (or of `end`)
  size_t end = 0;          // raw offset after the line end
};

// Names and values are views into the text that the ProfileText holding
// them owns: they last as long as it does.
struct ProfileKey {
  std::string_view name;    // trimmed, cut at the first NUL
  std::string_view folded;  // FoldProfileName(name)
  std::string_view value;   // trimmed, cut at the first NUL
  bool has_value = false;   // false for a line without '='
  size_t line = 0;
};

struct ProfileSection {
  static constexpr size_t kNoHeader = static_cast<size_t>(-1);
  std::string_view name;
  std::string_view folded;
  size_t header_line = kNoHeader;  // kNoHeader: the lines before any header
  size_t end_line = 0;             // one past its last line
  std::span<const ProfileKey> keys;
};

class ProfileText {
 public:
  // Never fails: any bytes are some profile.
  static ProfileText Parse(std::string_view raw);

  ProfileText() = default;
  ProfileText(ProfileText&&) = default;
  ProfileText& operator=(ProfileText&&) = default;
  // A copy would still point into the original's text.
  ProfileText(const ProfileText&) = delete;
  ProfileText& operator=(const ProfileText&) = delete;

  TextEncoding encoding() const { return encoding_; }
  // Byte order mark length.
  size_t body_start() const { return body_start_; }
  const std::vector<ProfileLine>& lines() const { return lines_; }
  // sections()[0] is the nameless one holding the lines before any header.
  const std::vector<ProfileSection>& sections() const { return sections_; }

  // First section whose name equals `folded_name` (already folded), or null.
  const ProfileSection* FindSection(std::string_view folded_name) const;
  // First key of `section` named `folded_name`, or null.
  static const ProfileKey* FindKey(const ProfileSection& section, std::string_view folded_name);

  // The text of a line without its line end, as ANSI bytes.
  std::string DecodeLine(std::string_view raw, size_t line) const;
  // ANSI text in the file's encoding.
  std::string Encode(std::string_view ansi) const;
  // The file's own line end ("\r\n", "\n" or "\r"); empty when it has none.
  std::string LineEnd(std::string_view raw) const;

 private:
  TextEncoding encoding_ = TextEncoding::kAnsi;
  size_t body_start_ = 0;
  // The trimmed (and decoded) text of the lines and the folded names, which
  // the names and values view: a store of thousands of keys is one block.
  std::unique_ptr<char[]> text_;
  std::vector<ProfileLine> lines_;
  std::vector<ProfileKey> keys_;
  std::vector<ProfileSection> sections_;
  std::unordered_map<std::string_view, size_t> first_section_;
};

}  // namespace kvbase

#endif  // SCHEDEXE_KVBASE_PROFILE_TEXT_H_
