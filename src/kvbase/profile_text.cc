#include "kvbase/profile_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/code_page.h"
#include "platform/utf8.h"

namespace kvbase {

namespace {

// The C blanks, and Ctrl-Z (an old end-of-file mark) which the profile
// functions also skip; not the no-break space. Every one of them is ASCII,
// and so the same byte in Windows-1252.
constexpr bool IsSpace(unsigned char c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x1A;
}

// Only ASCII letters compare without regard to case: É and é differ.
constexpr char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

std::string_view TrimStart(std::string_view t) {
  size_t b = 0;
  while (b < t.size() && IsSpace(static_cast<unsigned char>(t[b]))) ++b;
  return t.substr(b);
}

std::string_view TrimEnd(std::string_view t) {
  size_t e = t.size();
  while (e > 0 && IsSpace(static_cast<unsigned char>(t[e - 1]))) --e;
  return t.substr(0, e);
}

// Names and values end at a NUL byte, as C strings do.
std::string_view CutAtNul(std::string_view t) {
  const size_t nul = t.find('\0');
  return nul == std::string_view::npos ? t : t.substr(0, nul);
}

size_t UnitSize(TextEncoding e) {
  return (e == TextEncoding::kUtf16Le || e == TextEncoding::kUtf16Be) ? 2 : 1;
}

// The code unit at `pos` (a byte, or a UTF-16 unit).
uint32_t UnitAt(std::string_view raw, size_t pos, TextEncoding e) {
  const auto b = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(raw[i]));
  };
  switch (e) {
    case TextEncoding::kUtf16Le:
      return b(pos) | (b(pos + 1) << 8);
    case TextEncoding::kUtf16Be:
      return (b(pos) << 8) | b(pos + 1);
    default:
      return b(pos);
  }
}

// Next CR or LF at or after `pos`, or npos.
size_t FindLineBreak(std::string_view raw, size_t pos, size_t end, TextEncoding e) {
  if (UnitSize(e) == 1) {
    const char* from = raw.data() + pos;
    const auto* lf = static_cast<const char*>(std::memchr(from, '\n', end - pos));
    const size_t span = lf ? static_cast<size_t>(lf - from) : end - pos;
    const auto* cr = static_cast<const char*>(std::memchr(from, '\r', span));
    if (cr) return static_cast<size_t>(cr - raw.data());
    return lf ? static_cast<size_t>(lf - raw.data()) : std::string_view::npos;
  }
  for (size_t i = pos; i < end; i += 2) {
    const uint32_t u = UnitAt(raw, i, e);
    if (u == '\n' || u == '\r') return i;
  }
  return std::string_view::npos;
}

std::string DecodeUtf8(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int extra = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      extra = 1;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3;
      cp = c & 0x07;
    } else {
      out.push_back('?');
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (int k = 0; k < extra; ++k, ++j) {
      if (j >= s.size() || (static_cast<unsigned char>(s[j]) & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (static_cast<unsigned char>(s[j]) & 0x3F);
    }
    out.push_back(ok ? platform::Utf16ToCp1252(cp) : '?');
    i = ok ? j : i + 1;
  }
  return out;
}

}  // namespace

TextEncoding EncodingOf(std::string_view raw, size_t* mark_length) {
  const auto starts = [&](std::string_view mark) { return raw.substr(0, mark.size()) == mark; };
  TextEncoding e = TextEncoding::kAnsi;
  size_t n = 0;
  if (starts("\xEF\xBB\xBF")) {
    e = TextEncoding::kUtf8;
    n = 3;
  } else if (starts("\xFF\xFE")) {
    e = TextEncoding::kUtf16Le;
    n = 2;
  } else if (starts("\xFE\xFF")) {
    e = TextEncoding::kUtf16Be;
    n = 2;
  }
  if (mark_length) *mark_length = n;
  return e;
}

bool IsProfileSpace(unsigned char c) { return IsSpace(c); }

std::string FoldProfileName(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

std::string_view TrimProfileSpace(std::string_view text) { return TrimEnd(TrimStart(text)); }

ProfileText ProfileText::Parse(std::string_view raw) {
  ProfileText p;
  p.encoding_ = EncodingOf(raw, &p.body_start_);
  const TextEncoding enc = p.encoding_;
  const size_t unit = UnitSize(enc);
  const size_t end = p.body_start_ + (raw.size() - p.body_start_) / unit * unit;
  // A line's kept text and its folded name take at most twice its bytes
  // (decoding only shrinks a line), so the block never moves and the views
  // into it stay put.
  p.text_ = std::make_unique_for_overwrite<char[]>(2 * raw.size() + 1);
  size_t used = 0;
  const auto keep = [&](std::string_view t) {
    char* out = p.text_.get() + used;
    if (!t.empty()) std::memcpy(out, t.data(), t.size());
    used += t.size();
    return std::string_view(out, t.size());
  };
  const auto fold = [&](std::string_view name) {
    if (std::none_of(name.begin(), name.end(), [](char c) { return Lower(c) != c; })) return name;
    char* out = p.text_.get() + used;
    for (size_t k = 0; k < name.size(); ++k) out[k] = Lower(name[k]);
    used += name.size();
    return std::string_view(out, name.size());
  };
  // Room for lines of 16 bytes or more: growing moves only offsets and views.
  p.lines_.reserve(raw.size() / 16 + 8);
  p.keys_.reserve(raw.size() / 16 + 8);

  // Where each section's keys start in keys_; spans are made once keys_ is
  // complete.
  std::vector<size_t> first_key{0};
  p.sections_.emplace_back();  // the nameless section before any header
  bool prev_nameless = false;  // the section's last key so far has no name
  bool has_key = false;
  std::string decoded;
  // A line ends at CR, LF or CRLF.
  for (size_t pos = p.body_start_; pos < end;) {
    ProfileLine line;
    line.begin = pos;
    const size_t brk = FindLineBreak(raw, pos, end, enc);
    if (brk == std::string_view::npos) {
      line.end = line.content_end = end;
    } else {
      line.content_end = brk;
      line.end = brk + unit;
      if (UnitAt(raw, brk, enc) == '\r' && line.end < end && UnitAt(raw, line.end, enc) == '\n') {
        line.end += unit;
      }
    }
    const size_t i = p.lines_.size();
    p.lines_.push_back(line);
    pos = line.end;

    std::string_view text;
    if (enc == TextEncoding::kAnsi) {
      text = raw.substr(line.begin, line.content_end - line.begin);
    } else {
      decoded = p.DecodeLine(raw, i);
      text = decoded;
    }
    text = TrimEnd(TrimStart(text));
    if (text.empty()) continue;
    const bool has_nul = text.find('\0') != std::string_view::npos;
    const auto cut = [has_nul](std::string_view t) { return has_nul ? CutAtNul(t) : t; };
    if (text[0] == '[') {
      const size_t close = text.rfind(']');
      if (close != std::string_view::npos && close > 0) {
        p.sections_.back().end_line = i;
        ProfileSection& s = p.sections_.emplace_back();
        s.name = keep(cut(TrimEnd(TrimStart(text.substr(1, close - 1)))));
        s.folded = fold(s.name);
        s.header_line = i;
        first_key.push_back(p.keys_.size());
        prev_nameless = has_key = false;
        continue;
      }
    }
    const size_t eq = text.find('=');
    std::string_view name = text;
    if (eq != std::string_view::npos) name = TrimEnd(text.substr(0, eq));
    // A nameless entry directly after another nameless one is dropped, as
    // the Windows loader does (it matters only to key listings).
    if (name.empty() && has_key && prev_nameless) continue;
    text = keep(text);
    ProfileKey& key = p.keys_.emplace_back();
    key.line = i;
    key.name = cut(text.substr(0, name.size()));
    key.folded = fold(key.name);
    if (eq != std::string_view::npos) {
      key.value = cut(TrimStart(text.substr(eq + 1)));
      key.has_value = true;
    }
    prev_nameless = key.name.empty();
    has_key = true;
  }
  p.sections_.back().end_line = p.lines_.size();
  first_key.push_back(p.keys_.size());
  p.first_section_.reserve(p.sections_.size());
  for (size_t i = 0; i < p.sections_.size(); ++i) {
    p.sections_[i].keys =
        std::span<const ProfileKey>(p.keys_).subspan(first_key[i], first_key[i + 1] - first_key[i]);
    p.first_section_.emplace(p.sections_[i].folded, i);
  }
  return p;
}

const ProfileSection* ProfileText::FindSection(std::string_view folded_name) const {
  auto it = first_section_.find(folded_name);
  return it == first_section_.end() ? nullptr : &sections_[it->second];
}

const ProfileKey* ProfileText::FindKey(const ProfileSection& section,
                                       std::string_view folded_name) {
  for (const ProfileKey& k : section.keys) {
    if (k.folded == folded_name) return &k;
  }
  return nullptr;
}

std::string ProfileText::DecodeLine(std::string_view raw, size_t line) const {
  const ProfileLine& l = lines_[line];
  const std::string_view bytes = raw.substr(l.begin, l.content_end - l.begin);
  switch (encoding_) {
    case TextEncoding::kAnsi:
      return std::string(bytes);
    case TextEncoding::kUtf8:
      return DecodeUtf8(bytes);
    default: {
      std::string out;
      out.reserve(bytes.size() / 2);
      for (size_t i = l.begin; i < l.content_end; i += 2) {
        out.push_back(platform::Utf16ToCp1252(UnitAt(raw, i, encoding_)));
      }
      return out;
    }
  }
}

std::string ProfileText::Encode(std::string_view ansi) const {
  if (encoding_ == TextEncoding::kAnsi) return std::string(ansi);
  std::string out;
  for (char ch : ansi) {
    const uint32_t cp = platform::Cp1252ToUtf16(static_cast<unsigned char>(ch));
    if (encoding_ == TextEncoding::kUtf8) {
      platform::AppendUtf8(cp, &out);
    } else if (encoding_ == TextEncoding::kUtf16Le) {
      out.push_back(static_cast<char>(cp & 0xFF));
      out.push_back(static_cast<char>(cp >> 8));
    } else {
      out.push_back(static_cast<char>(cp >> 8));
      out.push_back(static_cast<char>(cp & 0xFF));
    }
  }
  return out;
}

std::string ProfileText::LineEnd(std::string_view raw) const {
  const size_t unit = UnitSize(encoding_);
  for (const ProfileLine& l : lines_) {
    if (l.content_end == l.end) continue;
    std::string ansi;
    for (size_t i = l.content_end; i < l.end; i += unit) {
      ansi.push_back(static_cast<char>(UnitAt(raw, i, encoding_)));
    }
    return ansi;
  }
  return std::string();
}

}  // namespace kvbase
