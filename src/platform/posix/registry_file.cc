#include "platform/posix/registry_file.h"

#include <cstdint>
#include <cstdlib>

#include "platform/file.h"
#include "platform/text.h"
#include "platform/utf8.h"

namespace platform::posix {

namespace {

constexpr char kDefaultRegistryFile[] = "/etc/schedexe/registry.reg";
constexpr std::string_view kHeader5 = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
// Far beyond any real registry file; a bigger one is not read at all.
constexpr uint64_t kMaxFileSize = 16 << 20;

constexpr std::string_view kRoots[] = {"hkey_local_machine", "hkey_current_user",
                                       "hkey_classes_root", "hkey_users", "hkey_current_config"};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string_view StripTrailingBackslashes(std::string_view path) {
  while (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  return path;
}

// UTF-16LE (no BOM) to UTF-8; false on an odd length or a lone surrogate.
bool Utf16LeToUtf8(std::string_view in, std::string* out) {
  if (in.size() % 2 != 0) return false;
  out->clear();
  auto unit = [&](size_t i) {
    return static_cast<uint32_t>(static_cast<unsigned char>(in[2 * i])) |
           static_cast<uint32_t>(static_cast<unsigned char>(in[2 * i + 1])) << 8;
  };
  const size_t n = in.size() / 2;
  for (size_t i = 0; i < n; ++i) {
    uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp < 0xDC00) {
      if (i + 1 >= n) return false;
      const uint32_t low = unit(i + 1);
      if (low < 0xDC00 || low >= 0xE000) return false;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
      ++i;
    } else if (cp >= 0xDC00 && cp < 0xE000) {
      return false;
    }
    platform::AppendUtf8(cp, out);
  }
  return true;
}

// Reads a quoted text with the .reg escapes \\ and \" from the start of `s`
// (which begins with the opening quote). Advances `s` past the closing quote.
bool ReadQuoted(std::string_view* s, std::string* out) {
  out->clear();
  size_t i = 1;
  while (i < s->size()) {
    const char c = (*s)[i];
    if (c == '"') {
      s->remove_prefix(i + 1);
      return true;
    }
    if (c == '\\' && i + 1 < s->size() && ((*s)[i + 1] == '\\' || (*s)[i + 1] == '"')) {
      out->push_back((*s)[i + 1]);
      i += 2;
      continue;
    }
    // Any other backslash stands for itself, as regedit reads it.
    out->push_back(c);
    ++i;
  }
  return false;
}

std::string Quote(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

// "hex(2):41,00,42,00" bytes; false when not a comma-separated byte list.
bool ParseHexBytes(std::string_view list, std::string* out) {
  out->clear();
  list = Trim(list);
  if (list.empty()) return true;
  size_t pos = 0;
  for (;;) {
    const size_t comma = list.find(',', pos);
    const std::string_view item =
        Trim(list.substr(pos, comma == std::string_view::npos ? comma : comma - pos));
    if (item.empty() || item.size() > 2) return false;
    unsigned value = 0;
    for (char c : item) {
      value <<= 4;
      if (c >= '0' && c <= '9') {
        value |= static_cast<unsigned>(c - '0');
      } else if (c >= 'a' && c <= 'f') {
        value |= static_cast<unsigned>(c - 'a' + 10);
      } else if (c >= 'A' && c <= 'F') {
        value |= static_cast<unsigned>(c - 'A' + 10);
      } else {
        return false;
      }
    }
    out->push_back(static_cast<char>(value));
    // regedit ends a continued line with a comma; one may end the list.
    if (comma == std::string_view::npos || Trim(list.substr(comma + 1)).empty()) return true;
    pos = comma + 1;
  }
}

bool IsHexDigits(std::string_view s) {
  return !s.empty() && s.find_first_not_of("0123456789abcdefABCDEF") == std::string_view::npos;
}

// Data of a type other than a string: "dword:" and up to eight hex digits,
// or "hex:" / "hex(type):" and a byte list. Anything else, a dangling
// continuation backslash included, is no registry file.
bool IsOtherTypeData(std::string_view rhs) {
  std::string bytes;
  if (rhs.compare(0, 6, "dword:") == 0) return IsHexDigits(rhs.substr(6)) && rhs.size() <= 14;
  if (rhs.compare(0, 4, "hex:") == 0) return ParseHexBytes(rhs.substr(4), &bytes);
  const size_t close = rhs.find("):");
  return rhs.compare(0, 4, "hex(") == 0 && close != std::string_view::npos &&
         IsHexDigits(rhs.substr(4, close - 4)) && ParseHexBytes(rhs.substr(close + 2), &bytes);
}

// UTF-8 to UTF-16LE; false on bytes that are no UTF-8.
bool Utf8ToUtf16Le(std::string_view in, std::string* out) {
  out->clear();
  for (size_t i = 0; i < in.size();) {
    const auto byte = [&](size_t k) {
      return static_cast<uint32_t>(static_cast<unsigned char>(in[k]));
    };
    const uint32_t lead = byte(i);
    const size_t extra = lead < 0x80    ? 0
                         : lead >= 0xF0 ? 3
                         : lead >= 0xE0 ? 2
                         : lead >= 0xC2 ? 1
                                        : 9;
    if (extra == 9 || lead > 0xF4) return false;
    uint32_t cp = extra == 0 ? lead : lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
      if (i + k >= in.size() || (byte(i + k) & 0xC0) != 0x80) return false;
      cp = cp << 6 | (byte(i + k) & 0x3F);
    }
    constexpr uint32_t kLeast[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) return false;
    i += extra + 1;
    auto unit = [&](uint32_t u) {
      out->push_back(static_cast<char>(u & 0xFF));
      out->push_back(static_cast<char>(u >> 8));
    };
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return true;
}

// A string as the right-hand side of a value line. A quoted string cannot
// hold a line break, so such a text goes as REG_SZ bytes (UTF-16LE with its
// terminator, as under the version 5 header); false when it is no UTF-8.
bool StringData(std::string_view text, std::string* out) {
  if (text.find_first_of("\r\n") == std::string_view::npos) {
    *out = Quote(text);
    return true;
  }
  std::string wide;
  if (!Utf8ToUtf16Le(text, &wide)) return false;
  wide.append(2, '\0');
  static constexpr char kHex[] = "0123456789abcdef";
  *out = "hex(1):";
  for (size_t i = 0; i < wide.size(); ++i) {
    if (i > 0) out->push_back(',');
    out->push_back(kHex[static_cast<unsigned char>(wide[i]) >> 4]);
    out->push_back(kHex[static_cast<unsigned char>(wide[i]) & 0xF]);
  }
  return true;
}

bool IsKnownRoot(std::string_view path) {
  const std::string lower = FoldCase(path.substr(0, path.find('\\')));
  for (std::string_view root : kRoots) {
    if (lower == root) return true;
  }
  return false;
}

}  // namespace

std::string RegistryFilePath() {
  const char* path = std::getenv("SCHEDEXE_REGISTRY");
  return path && *path ? path : kDefaultRegistryFile;
}

const RegistryValue* RegistryKey::Find(std::string_view name) const {
  for (const auto& [value_name, value] : values) {
    if (EqualsIgnoreCase(value_name, name)) return &value;
  }
  return nullptr;
}

size_t RegistryFile::Walk(std::string_view path, bool create) {
  path = StripTrailingBackslashes(path);
  size_t node = kNoParent;
  while (true) {
    const size_t slash = path.find('\\');
    const std::string_view name = path.substr(0, slash);
    auto link = std::make_pair(node, FoldCase(name));
    auto it = children_.find(link);
    if (it == children_.end()) {
      if (!create) return kNoParent;
      it = children_.emplace(std::move(link), nodes_.size()).first;
      nodes_.push_back(Node{node, std::string(name), {}});
    }
    node = it->second;
    if (slash == std::string_view::npos) return node;
    path.remove_prefix(slash + 1);
  }
}

size_t RegistryFile::Find(std::string_view path) const {
  // Without `create` the walk changes nothing.
  return const_cast<RegistryFile*>(this)->Walk(path, false);
}

RegistryKey& RegistryFile::CreateKey(std::string_view path) {
  // Every key on the way exists too, as after reg import.
  return nodes_[Walk(path, true)].key;
}

void RegistryFile::DeleteKey(std::string_view path) {
  const size_t node = Find(path);
  if (node != kNoParent) children_.erase({nodes_[node].parent, FoldCase(nodes_[node].name)});
}

const RegistryKey* RegistryFile::FindKey(std::string_view path) const {
  const size_t node = Find(path);
  return node == kNoParent ? nullptr : &nodes_[node].key;
}

bool RegistryFile::SetString(std::string_view path, std::string_view name, std::string_view text) {
  path = StripTrailingBackslashes(path);
  RegistryValue value;
  // A line break in a name would end its line of the file.
  if (path.empty() || path.front() == '\\' || path.find("\\\\") != std::string_view::npos ||
      path.find_first_of("\r\n") != std::string_view::npos ||
      name.find_first_of("\r\n") != std::string_view::npos || !StringData(text, &value.raw)) {
    return false;
  }
  RegistryKey& key = CreateKey(path);
  value.is_string = true;
  value.text = std::string(text);
  for (auto& [value_name, old] : key.values) {
    if (EqualsIgnoreCase(value_name, name)) {
      old = value;
      return true;
    }
  }
  key.values.emplace_back(std::string(name), value);
  return true;
}

bool RegistryFile::ApplyLine(std::string_view line, RegistryKey** current) {
  line = Trim(line);
  if (line.empty() || line.front() == ';' || line.front() == '#') return true;

  if (line.front() == '[') {
    if (line.back() != ']' || line.size() < 3) return false;
    std::string_view path = line.substr(1, line.size() - 2);
    const bool remove = path.front() == '-';
    if (remove) path.remove_prefix(1);
    if (!IsKnownRoot(path)) return false;
    if (remove) {
      DeleteKey(path);
      *current = nullptr;  // values under a deleted key are ignored
    } else {
      *current = &CreateKey(path);
    }
    return true;
  }

  std::string name;
  if (line.front() == '@') {
    line.remove_prefix(1);
  } else if (line.front() == '"') {
    if (!ReadQuoted(&line, &name)) return false;
  } else {
    return false;
  }
  line = Trim(line);
  if (line.empty() || line.front() != '=') return false;
  const std::string_view rhs = Trim(line.substr(1));

  RegistryValue value;
  value.raw = std::string(rhs);
  if (rhs == "-") {
    if (*current) {
      auto& values = (*current)->values;
      for (auto it = values.begin(); it != values.end(); ++it) {
        if (EqualsIgnoreCase(it->first, name)) {
          values.erase(it);
          break;
        }
      }
    }
    return true;
  }
  if (!rhs.empty() && rhs.front() == '"') {
    std::string_view rest = rhs;
    if (!ReadQuoted(&rest, &value.text) || !Trim(rest).empty()) return false;
    value.is_string = true;
  } else if (rhs.compare(0, 7, "hex(2):") == 0 || rhs.compare(0, 7, "hex(1):") == 0) {
    std::string bytes;
    if (!ParseHexBytes(rhs.substr(7), &bytes)) return false;
    if (unicode_) {
      if (!Utf16LeToUtf8(bytes, &value.text)) return false;
    } else {
      value.text = bytes;
    }
    // The stored terminator is not part of the text; NULs before it are,
    // as the registry keeps a value's bytes as they were given.
    if (!value.text.empty() && value.text.back() == '\0') value.text.pop_back();
    value.is_string = true;
  } else if (!IsOtherTypeData(rhs)) {
    return false;
  }
  if (!*current) return true;
  for (auto& [value_name, old] : (*current)->values) {
    if (EqualsIgnoreCase(value_name, name)) {
      old = value;
      return true;
    }
  }
  (*current)->values.emplace_back(std::move(name), std::move(value));
  return true;
}

bool RegistryFile::Parse(std::string_view bytes, std::string* error) {
  nodes_.clear();
  children_.clear();
  std::string ignored;
  if (!error) error = &ignored;
  std::string text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    if (!Utf16LeToUtf8(bytes.substr(2), &text)) {
      *error = "not valid UTF-16";
      return false;
    }
  } else if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    text = bytes.substr(3);
  } else {
    text = bytes;
  }

  bool header_seen = false;
  bool section_seen = false;
  RegistryKey* current = nullptr;
  std::string pending;  // a hex value continued over several lines
  size_t pos = 0;
  size_t line_number = 0;
  size_t first_line = 0;  // of a value continued over several lines
  const auto refuse = [&](std::string_view line, const char* why) {
    nodes_.clear();
    children_.clear();
    constexpr size_t kShown = 60;
    *error = "line " + std::to_string(first_line) + " (" + why +
             "): " + std::string(line.substr(0, kShown)) + (line.size() > kShown ? "..." : "");
    return false;
  };
  while (pos <= text.size()) {
    ++line_number;
    if (pending.empty()) first_line = line_number;
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string_view line(text.data() + pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (!pending.empty()) {
      pending += Trim(line);
    } else {
      pending = line;
    }
    const std::string_view trimmed = Trim(pending);
    if (!trimmed.empty() && trimmed.back() == '\\' &&
        (trimmed.front() == '"' || trimmed.front() == '@') && pos <= text.size()) {
      pending = std::string(trimmed.substr(0, trimmed.size() - 1));
      continue;
    }
    const std::string whole = std::move(pending);
    pending.clear();

    const std::string_view t = Trim(whole);
    if (!header_seen) {
      if (t.empty()) continue;
      if (t == kHeader5) {
        unicode_ = true;
      } else if (t == kHeader4) {
        unicode_ = false;
      } else {
        return refuse(t, "no registry file header");
      }
      header_seen = true;
      continue;
    }
    if (!t.empty() && t.front() == '[') section_seen = true;
    if ((!t.empty() && (t.front() == '"' || t.front() == '@') && !section_seen) ||
        !ApplyLine(t, &current)) {
      return refuse(t, section_seen ? "not a key or value line" : "a value before any key");
    }
  }
  if (!header_seen) {
    *error = "empty, no registry file header";
    return false;
  }
  return true;
}

std::string RegistryFile::Format() const {
  // Reachable keys: linked to a reachable parent (parents come first).
  std::vector<bool> linked(nodes_.size()), reachable(nodes_.size()), parent(nodes_.size());
  for (const auto& [link, node] : children_) linked[node] = true;
  for (size_t i = 0; i < nodes_.size(); ++i) {
    const size_t up = nodes_[i].parent;
    reachable[i] = linked[i] && (up == kNoParent || reachable[up]);
    if (reachable[i] && up != kNoParent) parent[up] = true;
  }
  std::string out(kHeader5);
  out += "\n";
  std::vector<std::string_view> names;
  for (size_t i = 0; i < nodes_.size(); ++i) {
    if (!reachable[i] || (parent[i] && nodes_[i].key.values.empty())) continue;
    names.clear();
    for (size_t n = i; n != kNoParent; n = nodes_[n].parent) names.push_back(nodes_[n].name);
    out += "\n[";
    for (size_t k = names.size(); k-- > 0;) {
      out += names[k];
      if (k > 0) out += "\\";
    }
    out += "]\n";
    for (const auto& [name, value] : nodes_[i].key.values) {
      std::string data = value.raw;
      if (value.is_string) StringData(value.text, &data);
      out += name.empty() ? std::string("@") : Quote(name);
      out += "=" + data + "\n";
    }
  }
  return out;
}

size_t RegistryFile::StoredBytes() const {
  size_t n = 0;
  for (const auto& [link, node] : children_) n += link.second.size() + nodes_[node].name.size();
  return n;
}

bool LoadRegistryFile(const std::string& path, RegistryFile* out, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  const std::string file = "the registry file " + path;
  FileStamp stamp;
  std::string bytes;
  switch (StatFile(path, &stamp)) {
    case FileStatus::kMissing:
      *error = file + " is missing";
      return false;
    case FileStatus::kError:
      *error = file + " cannot be read";
      return false;
    case FileStatus::kOk:
      break;
  }
  if (stamp.size > kMaxFileSize || ReadFileContents(path, &bytes, nullptr) != FileStatus::kOk ||
      bytes.size() > kMaxFileSize) {
    *error = file + " cannot be read (not a regular file, no access, or larger than " +
             std::to_string(kMaxFileSize) + " bytes)";
    return false;
  }
  std::string where;
  if (out->Parse(bytes, &where)) return true;
  *error = file + " does not parse at " + where;
  return false;
}

}  // namespace platform::posix
