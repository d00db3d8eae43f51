#include "kvbase/profile.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "kvbase/profile_edit.h"
#include "kvbase/profile_text.h"
#include "platform/faults.h"
#include "platform/file.h"
#include "platform/log.h"

namespace kvbase {

namespace {

// ---------------------------------------------------------------------------
// Cache of parsed files. The worker and the execution threads read the same
// file many times per snapshot; parsing it once per version saves most of
// the work. A stamp proves only that a file changed, so an entry is used on
// the strength of its stamp alone once the clock the file system stamps with
// has moved past the file's last change (StampIsSettled): no later write can
// keep that stamp. Until then (a reload right after a write) the file is read
// on every call, and the parse is reused only when the bytes are the very
// same; on a local disk that lasts one clock tick at most.

constexpr size_t kCacheSlots = 8;

struct CacheEntry {
  std::string path;
  platform::FileStamp stamp;
  bool settled = false;
  uint64_t last_use = 0;
  std::shared_ptr<const std::string> raw;
  std::shared_ptr<const ProfileText> text;
};

std::mutex cache_mutex;
std::vector<CacheEntry> cache;  // guarded by cache_mutex
uint64_t use_counter = 0;       // guarded by cache_mutex
std::atomic<bool> cache_enabled{true};

void ForgetCached(const std::string& path) {
  std::lock_guard<std::mutex> lock(cache_mutex);
  for (size_t i = 0; i < cache.size(); ++i) {
    if (cache[i].path == path) {
      cache.erase(cache.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
  }
}

// How the file opened: as Windows' profile code opens it for reading.
enum class Opened {
  kText,    // a file, parsed
  kNoFile,  // no such file in an existing folder: an empty profile
  kFailed,  // cannot be opened at all (no folder, a directory, no access)
};

std::shared_ptr<const ProfileText> EmptyText() {
  static const auto empty = std::make_shared<const ProfileText>(ProfileText::Parse(""));
  return empty;
}

// Says once when reading a file starts to fail, and once when it reads
// again, however many reads a pass makes meanwhile. `reason` is the OS error
// of a failed open.
void NoteRead(const char* file, Opened opened, uint32_t reason) {
  static auto* mutex = new std::mutex;
  static auto* last = new std::vector<std::pair<std::string, Opened>>;
  {
    std::lock_guard<std::mutex> lock(*mutex);
    auto it =
        std::find_if(last->begin(), last->end(), [&](const auto& e) { return e.first == file; });
    if (it == last->end()) {
      if (opened == Opened::kText) return;
      // Bounded: a service reads one data file at a time.
      if (last->size() >= 16) last->erase(last->begin());
      last->emplace_back(file, opened);
    } else if (it->second == opened) {
      return;
    } else {
      it->second = opened;
    }
  }
  using platform::LogLevel;
  const std::string path = platform::NativePath(file);
  std::string problem;
  if (!*file) {
    problem = "no data file: the registry names none";
  } else if (opened == Opened::kNoFile) {
    problem = "data file " + path + " does not exist; it reads as empty";
  } else if (opened == Opened::kFailed) {
    problem = "cannot read data file " + path + ": " +
              (reason ? platform::OsErrorText(reason) : "not a readable file");
  }
  platform::SetFault(platform::Fault::kDataFileRead, problem);
  if (problem.empty()) {
    platform::LogParts(LogLevel::kNotice, "data file ", path, " reads again");
  } else {
    platform::Log(LogLevel::kError, problem);
  }
}

Opened LoadForRead(const std::string& path, std::shared_ptr<const ProfileText>* out,
                   uint32_t* reason) {
  *reason = 0;
  const bool use_cache = cache_enabled.load(std::memory_order_relaxed);
  platform::FileStamp stamp;
  if (use_cache) {
    const platform::FileStatus st = platform::StatFile(path, &stamp);
    if (st == platform::FileStatus::kOk) {
      std::lock_guard<std::mutex> lock(cache_mutex);
      for (CacheEntry& e : cache) {
        if (e.path == path && e.settled && e.stamp == stamp) {
          e.last_use = ++use_counter;
          *out = e.text;
          return Opened::kText;
        }
      }
    }
  }
  const int64_t read_at = platform::FileClockNowNs();
  std::string raw;
  const platform::FileStatus st = platform::ReadFileContents(path, &raw, &stamp);
  if (st != platform::FileStatus::kOk) *reason = platform::LastOsError();
  if (st == platform::FileStatus::kError) return Opened::kFailed;
  if (st == platform::FileStatus::kMissing) {
    if (!platform::ParentFolderExists(path)) return Opened::kFailed;
    *out = EmptyText();
    return Opened::kNoFile;
  }
  std::shared_ptr<const std::string> known_raw;
  std::shared_ptr<const ProfileText> known_text;
  if (use_cache) {
    std::lock_guard<std::mutex> lock(cache_mutex);
    for (const CacheEntry& e : cache) {
      if (e.path == path) {
        known_raw = e.raw;
        known_text = e.text;
      }
    }
  }
  std::shared_ptr<const ProfileText> text =
      known_raw && *known_raw == raw ? known_text
                                     : std::make_shared<const ProfileText>(ProfileText::Parse(raw));
  *out = text;
  if (use_cache && stamp.mtime_ns >= 0) {
    const bool settled = platform::StampIsSettled(path, stamp, read_at);
    auto raw_copy = known_raw && known_text == text
                        ? known_raw
                        : std::make_shared<const std::string>(std::move(raw));
    std::lock_guard<std::mutex> lock(cache_mutex);
    CacheEntry* slot = nullptr;
    for (CacheEntry& e : cache) {
      if (e.path == path) slot = &e;
    }
    if (!slot && cache.size() < kCacheSlots) slot = &cache.emplace_back();
    if (!slot) {
      slot = &cache[0];
      for (CacheEntry& e : cache) {
        if (e.last_use < slot->last_use) slot = &e;
      }
    }
    slot->path = path;
    slot->stamp = stamp;
    slot->settled = settled;
    slot->last_use = ++use_counter;
    slot->raw = std::move(raw_copy);
    slot->text = std::move(text);
  }
  return Opened::kText;
}

// ---------------------------------------------------------------------------
// Reading, with the Windows profile functions' results in every corner.

// Copies at most size-1 characters and a NUL.
size_t CopyTruncated(char* buffer, size_t size, std::string_view text) {
  const size_t n = text.size() < size - 1 ? text.size() : size - 1;
  std::memcpy(buffer, text.data(), n);
  buffer[n] = '\0';
  return n;
}

// A value (or default) that starts and ends with the same quote loses the
// pair. The closing quote is dropped from what the buffer received, so a
// buffer that cuts the value keeps the opening quote's removal only.
size_t CopyEntry(char* buffer, size_t size, std::string_view value) {
  bool quoted = false;
  if (value.size() > 1 && (value[0] == '\'' || value[0] == '"') && value.back() == value[0]) {
    quoted = true;
    value.remove_prefix(1);
  }
  size_t n = value.size() < size - 1 ? value.size() : size - 1;
  if (quoted && size >= value.size() && n > 0) --n;
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return n;
}

// Key names of a section, each NUL-terminated, ending with an empty one.
size_t ListKeys(const ProfileText& text, const char* section, char* buffer, size_t size) {
  const std::string folded = FoldProfileName(section);
  for (const ProfileSection& s : text.sections()) {
    if (s.folded != folded) continue;
    const size_t old_size = size;
    char* p = buffer;
    for (const ProfileKey& k : s.keys) {
      if (size <= 2) break;
      if (!k.has_value) continue;  // blank lines, comments, lines without '='
      if (!k.name.empty() && k.name[0] == ';') continue;
      const size_t n = CopyTruncated(p, size - 1, k.name);
      size -= n + 1;
      p += n + 1;
      if (size < 2) break;
    }
    *p = '\0';
    if (size <= 1) {
      if (p > buffer) p[-1] = '\0';
      return old_size - 2;
    }
    return old_size - size;
  }
  buffer[0] = '\0';
  if (size > 1) buffer[1] = '\0';
  return 0;
}

// Names of all sections, each NUL-terminated, ending with an empty one.
size_t ListSections(const ProfileText& text, char* buffer, size_t size) {
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  size_t room = size - 1;
  char* p = buffer;
  for (const ProfileSection& s : text.sections()) {
    if (s.name.empty()) continue;
    const size_t n = s.name.size() + 1;
    if (n >= room) {
      if (room > 0) {
        std::memcpy(p, s.name.data(), room - 1);
        p += room - 1;
        *p++ = '\0';
      }
      *p = '\0';
      return size - 2;
    }
    std::memcpy(p, s.name.data(), n - 1);
    p[n - 1] = '\0';
    p += n;
    room -= n;
  }
  *p = '\0';
  return static_cast<size_t>(p - buffer);
}

// Trailing blanks of the default go; a default of blanks only keeps one.
std::optional<std::string_view> TrimDefault(const char* def) {
  if (!def || !*def) return std::nullopt;
  std::string_view d(def);
  size_t end = d.size();
  while (end > 1 && d[end - 1] == ' ') --end;
  return d.substr(0, end);
}

size_t GetString(const char* section, const char* key, const char* def, char* buffer, size_t size,
                 const char* file) {
  if (!buffer || size == 0) return 0;
  std::shared_ptr<const ProfileText> text;
  uint32_t reason = 0;
  const Opened opened =
      file && *file ? LoadForRead(platform::NativePath(file), &text, &reason) : Opened::kFailed;
  if (file && platform::LogEnabled(platform::LogLevel::kError)) NoteRead(file, opened, reason);
  if (!section || !key) {
    // Listings: the default is used as given, quotes removed, and only when
    // a section's key list comes out empty.
    std::string list(size, '\0');
    size_t n = 0;
    if (opened != Opened::kFailed) {
      n = section ? ListKeys(*text, section, list.data(), size)
                  : ListSections(*text, list.data(), size);
    }
    if (section && !list[0]) return CopyEntry(buffer, size, def ? def : "");
    // Only the counted part of the list reaches the caller's buffer,
    // followed by one NUL, as the ANSI layer of Windows copies it.
    const size_t count = n < size ? n : size - 1;
    std::memcpy(buffer, list.data(), count);
    buffer[count] = '\0';
    return count;
  }
  const std::optional<std::string_view> def_text = TrimDefault(def);
  if (opened == Opened::kFailed) {
    return CopyTruncated(buffer, size, def_text.value_or(""));
  }
  const ProfileSection* s = text->FindSection(FoldProfileName(TrimProfileSpace(section)));
  const ProfileKey* k =
      s ? ProfileText::FindKey(*s, FoldProfileName(TrimProfileSpace(key))) : nullptr;
  if (k && k->has_value) return CopyEntry(buffer, size, k->value);
  return CopyEntry(buffer, size, def_text.value_or(""));
}

// Decimal, or 0x hexadecimal, 0o octal, 0b binary; stops at the first
// character that does not fit, wraps modulo 2^32.
uint32_t ParseInteger(const char* s) {
  while (*s && static_cast<unsigned char>(*s) <= ' ') ++s;
  bool minus = false;
  if (*s == '+') {
    ++s;
  } else if (*s == '-') {
    minus = true;
    ++s;
  }
  uint32_t base = 10;
  if (s[0] == '0' && s[1] == 'x') {
    base = 16;
    s += 2;
  } else if (s[0] == '0' && s[1] == 'o') {
    base = 8;
    s += 2;
  } else if (s[0] == '0' && s[1] == 'b') {
    base = 2;
    s += 2;
  }
  uint32_t total = 0;
  for (; *s; ++s) {
    const char c = *s;
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'z') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'Z') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      break;
    }
    if (digit >= base) break;
    total = total * base + digit;
  }
  return minus ? 0u - total : total;
}

}  // namespace

bool WriteProfileString(const char* section, const char* key, const char* value, const char* file,
                        std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (!file || !*file) {
    *error = "no file name";
    return false;
  }
  if (!section) {
    *error = "no section name";
    return false;
  }
  // Through a symbolic link, the file it names is replaced and the link kept.
  const std::string named = platform::NativePath(file);
  const std::string path = platform::WriteTarget(named);
  std::unique_ptr<platform::FileWriteLock> lock = platform::FileWriteLock::Acquire(path, error);
  if (!lock) return false;

  std::string raw;
  const platform::FileStatus st = platform::ReadFileContents(path, &raw, nullptr);
  if (st == platform::FileStatus::kError) {
    *error = "cannot read " + path + " (not a regular file, or no access)";
    return false;
  }
  ProfileChange change;
  if (!key) {
    change = ProfileChange::DeleteSection(section);
  } else if (!value) {
    change = ProfileChange::DeleteKey(section, key);
  } else {
    // Like Windows, the value loses its leading blanks.
    size_t skip = 0;
    while (value[skip] && IsProfileSpace(static_cast<unsigned char>(value[skip]))) ++skip;
    change = ProfileChange::SetKey(std::string(TrimProfileSpace(section)),
                                   std::string(TrimProfileSpace(key)), value + skip);
  }
  const std::optional<std::string> updated =
      ApplyProfileChanges(raw, {change}, platform::NativeLineEnd());
  if (!updated) return true;  // nothing to change: no file is created either
  ForgetCached(named);
  ForgetCached(path);
  // Left by a writer that died: cleared only when there is something to write.
  platform::RemoveStaleTemporaries(path);
  if (!platform::ReplaceFileContents(path, *updated, error)) return false;
  ForgetCached(named);
  ForgetCached(path);
  return true;
}

void SetCacheEnabledForTesting(bool enabled) {
  cache_enabled.store(enabled);
  if (!enabled) {
    std::lock_guard<std::mutex> lock(cache_mutex);
    cache.clear();
  }
}

}  // namespace kvbase

int TARNG_GetProfileString(const char* section, const char* key, const char* default_value,
                           const char* buffer, int size, const char* file) {
  // The interface declares the buffer constant; callers pass a writable one.
  char* out = const_cast<char*>(buffer);
  return static_cast<int>(kvbase::GetString(section, key, default_value, out,
                                            size > 0 ? static_cast<size_t>(size) : 0, file));
}

int TARNG_GetProfileInt(const char* section, const char* key, int default_value, const char* file) {
  // Windows reads the value into a buffer of 30 characters first.
  char buffer[30];
  if (kvbase::GetString(section, key, "", buffer, sizeof buffer, file) == 0 || !buffer[0]) {
    return default_value;
  }
  return static_cast<int>(kvbase::ParseInteger(buffer));
}

int TARNG_WriteProfileString(const char* section, const char* key, const char* value,
                             const char* file) {
  return kvbase::WriteProfileString(section, key, value, file, nullptr) ? 1 : 0;
}
