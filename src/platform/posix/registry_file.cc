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
    if (comma == std::string_view::npos) return true;
    pos = comma + 1;
  }
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

RegistryKey& RegistryFile::CreateKey(std::string_view path) {
  path = StripTrailingBackslashes(path);
  // Every key on the way exists too, as after reg import.
  for (size_t slash = path.find('\\'); slash != std::string_view::npos;
       slash = path.find('\\', slash + 1)) {
    const std::string_view parent = path.substr(0, slash);
    auto [it, added] = keys_.try_emplace(FoldCase(parent));
    if (added) it->second.path = std::string(parent);
  }
  auto [it, added] = keys_.try_emplace(FoldCase(path));
  if (added) it->second.path = std::string(path);
  return it->second;
}

void RegistryFile::DeleteKey(std::string_view path) {
  const std::string lower = FoldCase(StripTrailingBackslashes(path));
  const std::string below = lower + "\\";
  for (auto it = keys_.lower_bound(lower); it != keys_.end();) {
    if (it->first == lower || it->first.compare(0, below.size(), below) == 0) {
      it = keys_.erase(it);
    } else if (it->first.compare(0, lower.size(), lower) == 0) {
      ++it;  // a sibling such as "...\Keyname2": not below the key
    } else {
      break;
    }
  }
}

const RegistryKey* RegistryFile::FindKey(std::string_view path) const {
  auto it = keys_.find(FoldCase(StripTrailingBackslashes(path)));
  return it == keys_.end() ? nullptr : &it->second;
}

void RegistryFile::SetString(std::string_view path, std::string_view name, std::string_view text) {
  RegistryKey& key = CreateKey(path);
  RegistryValue value;
  value.is_string = true;
  value.text = std::string(text);
  value.raw = Quote(text);
  for (auto& [value_name, old] : key.values) {
    if (EqualsIgnoreCase(value_name, name)) {
      old = value;
      return;
    }
  }
  key.values.emplace_back(std::string(name), value);
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
  } else if (rhs.compare(0, 7, "hex(2):") == 0) {
    std::string bytes;
    if (!ParseHexBytes(rhs.substr(7), &bytes)) return false;
    if (unicode_) {
      if (!Utf16LeToUtf8(bytes, &value.text)) return false;
    } else {
      value.text = bytes;
    }
    // The stored terminator is not part of the text.
    while (!value.text.empty() && value.text.back() == '\0') value.text.pop_back();
    value.is_string = true;
  } else if (rhs.compare(0, 6, "dword:") == 0 || rhs.compare(0, 3, "hex") == 0) {
    // Another type: it exists but is no string.
  } else {
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

bool RegistryFile::Parse(std::string_view bytes) {
  keys_.clear();
  std::string text;
  if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE') {
    if (!Utf16LeToUtf8(bytes.substr(2), &text)) return false;
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
  while (pos <= text.size()) {
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
        keys_.clear();
        return false;
      }
      header_seen = true;
      continue;
    }
    if (!t.empty() && t.front() == '[') section_seen = true;
    if ((!t.empty() && (t.front() == '"' || t.front() == '@') && !section_seen) ||
        !ApplyLine(t, &current)) {
      keys_.clear();
      return false;
    }
  }
  if (!header_seen) return false;
  return true;
}

std::string RegistryFile::Format() const {
  std::string out(kHeader5);
  out += "\n";
  for (const auto& [lower, key] : keys_) {
    out += "\n[" + key.path + "]\n";
    for (const auto& [name, value] : key.values) {
      out += name.empty() ? std::string("@") : Quote(name);
      out += "=";
      out += value.is_string ? Quote(value.text) : value.raw;
      out += "\n";
    }
  }
  return out;
}

bool LoadRegistryFile(const std::string& path, RegistryFile* out) {
  FileStamp stamp;
  if (StatFile(path, &stamp) != FileStatus::kOk || stamp.size > kMaxFileSize) {
    return false;
  }
  std::string bytes;
  return ReadFileContents(path, &bytes, nullptr) == FileStatus::kOk &&
         bytes.size() <= kMaxFileSize && out->Parse(bytes);
}

}  // namespace platform::posix
