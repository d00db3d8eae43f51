#include "dmisp/table_store.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmisp/store_format.h"
#include "kvbase/file_update.h"
#include "kvbase/profile_edit.h"
#include "kvbase/profile_text.h"
#include "platform/file.h"
#include "platform/mutex.h"
#include "platform/process_info.h"
#include "platform/registry_path.h"

namespace dmisp {

namespace {

constexpr char kAgentKey[] = "SOFTWARE\\Corvane\\Teltrix";
constexpr char kAgentPathValue[] = "TTX Path";

// Parsed stores, so that the provider, which reads the store for nearly
// every command, parses one version of the file once. A file's stamp alone
// is trusted only once no later write could keep it (StampIsSettled): until
// then the bytes are read and compared.
constexpr size_t kCacheSlots = 8;

struct CacheEntry {
  std::string path;
  bool has_stamp = false;
  bool settled = false;
  platform::FileStamp stamp;
  uint64_t last_use = 0;
  std::shared_ptr<const std::string> raw;
  std::shared_ptr<const Tables> tables;
  // The parse the tables came from, which an update edits (null when they
  // were written here).
  std::shared_ptr<const kvbase::ProfileText> text;
};

platform::Mutex cache_mutex;
// Never destroyed: a process ends without freeing the parsed stores one by
// one, and the provider's thread may still be reading them as it does.
std::vector<CacheEntry>* const cache PT_GUARDED_BY(cache_mutex) = new std::vector<CacheEntry>;
uint64_t use_counter GUARDED_BY(cache_mutex) = 0;

std::shared_ptr<const Tables> EmptyTables() {
  static const auto empty = std::make_shared<const Tables>();
  return empty;
}

CacheEntry* FindEntry(const std::string& path) REQUIRES(cache_mutex) {
  for (CacheEntry& e : *cache) {
    if (e.path == path) return &e;
  }
  return nullptr;
}

CacheEntry* EntryFor(const std::string& path) REQUIRES(cache_mutex) {
  if (CacheEntry* e = FindEntry(path)) return e;
  if (cache->size() < kCacheSlots) {
    cache->emplace_back().path = path;
    return &cache->back();
  }
  CacheEntry* oldest = &(*cache)[0];
  for (CacheEntry& e : *cache) {
    if (e.last_use < oldest->last_use) oldest = &e;
  }
  *oldest = CacheEntry();
  oldest->path = path;
  return oldest;
}

// The tables of these bytes: the cached ones when the bytes are the cached
// bytes, else parsed and remembered. `stamp` (null: not known) belongs to
// the bytes. `text`, when given, gets their parse when it is kept.
std::shared_ptr<const Tables> Parsed(const std::string& path, std::string raw,
                                     const platform::FileStamp* stamp, int64_t read_at,
                                     std::string* error,
                                     std::shared_ptr<const kvbase::ProfileText>* text = nullptr) {
  {
    platform::MutexLock lock(cache_mutex);
    CacheEntry* e = FindEntry(path);
    if (e && e->raw && *e->raw == raw) {
      if (stamp) {
        e->has_stamp = true;
        e->stamp = *stamp;
        e->settled = platform::StampIsSettled(path, *stamp, read_at);
      }
      e->last_use = ++use_counter;
      if (text) *text = e->text;
      return e->tables;
    }
  }
  auto parsed = std::make_shared<const kvbase::ProfileText>(kvbase::ProfileText::Parse(raw));
  auto tables = std::make_shared<Tables>();
  if (!ParseStoreText(*parsed, tables.get(), error)) {
    *error = "store " + path + ", " + *error;
    return nullptr;
  }
  platform::MutexLock lock(cache_mutex);
  CacheEntry* e = EntryFor(path);
  e->raw = std::make_shared<const std::string>(std::move(raw));
  e->tables = tables;
  e->text = parsed;
  if (text) *text = std::move(parsed);
  e->has_stamp = stamp != nullptr;
  if (stamp) e->stamp = *stamp;
  e->settled = stamp && platform::StampIsSettled(path, *stamp, read_at);
  e->last_use = ++use_counter;
  return tables;
}

void Remember(const std::string& path, std::string raw, std::shared_ptr<const Tables> tables) {
  platform::MutexLock lock(cache_mutex);
  CacheEntry* e = EntryFor(path);
  e->raw = std::make_shared<const std::string>(std::move(raw));
  e->tables = std::move(tables);
  e->text = nullptr;
  e->has_stamp = false;
  e->settled = false;
  e->last_use = ++use_counter;
}

}  // namespace

namespace {

// The first value of `items` whose id is not below `id`.
template <typename Items>
auto LowerBound(Items& items, uint32_t id) {
  return std::lower_bound(items.begin(), items.end(), id,
                          [](const auto& item, uint32_t key) { return item.first < key; });
}

}  // namespace

RowValues::iterator RowValues::find(uint32_t id) {
  const auto it = LowerBound(items_, id);
  return it != items_.end() && it->first == id ? it : items_.end();
}

RowValues::const_iterator RowValues::find(uint32_t id) const {
  const auto it = LowerBound(items_, id);
  return it != items_.end() && it->first == id ? it : items_.end();
}

Value& RowValues::operator[](uint32_t id) { return emplace(id, Value()).first->second; }

const Value& RowValues::at(uint32_t id) const {
  const auto it = find(id);
  if (it == end()) throw std::out_of_range("no value of attribute " + std::to_string(id));
  return it->second;
}

std::pair<RowValues::iterator, bool> RowValues::emplace(uint32_t id, Value value) {
  // A row is mostly built in ascending order: then this appends.
  auto it = items_.end();
  if (!items_.empty() && items_.back().first >= id) {
    it = LowerBound(items_, id);
    if (it->first == id) return {it, false};
  }
  return {items_.insert(it, value_type(id, std::move(value))), true};
}

std::string StorePath() {
  std::string path = platform::GetEnvironmentVariable(dmi::kDmiStoreVariable);
  if (!path.empty()) return path;
  const std::string suffix = std::string("\\KVClient\\") + dmi::kDmiStoreFileName;
  if (platform::ReadRegistryPath(kAgentKey, kAgentPathValue, suffix.c_str(), &path) !=
      platform::RegistryStatus::kOk) {
    return "";
  }
  return path;
}

std::shared_ptr<const Tables> ReadStoreShared(const std::string& path, std::string* error) {
  std::string ignored;
  if (!error) error = &ignored;
  if (path.empty()) {
    *error = "no store file named";
    return nullptr;
  }
  const std::string native = platform::NativePath(path);
  platform::FileStamp stamp;
  if (platform::StatFile(native, &stamp) == platform::FileStatus::kOk) {
    platform::MutexLock lock(cache_mutex);
    CacheEntry* e = FindEntry(native);
    if (e && e->settled && e->has_stamp && e->stamp == stamp) {
      e->last_use = ++use_counter;
      return e->tables;
    }
  }
  const int64_t read_at = platform::FileClockNowNs();
  std::string raw;
  switch (platform::ReadFileContents(native, &raw, &stamp)) {
    case platform::FileStatus::kMissing:
      return EmptyTables();
    case platform::FileStatus::kError:
      *error = "cannot read " + native + " (not a regular file, or no access)";
      return nullptr;
    case platform::FileStatus::kOk:
      break;
  }
  return Parsed(native, std::move(raw), &stamp, read_at, error);
}

bool ReadStore(const std::string& path, Tables* tables, std::string* error) {
  const std::shared_ptr<const Tables> shared = ReadStoreShared(path, error);
  if (!shared) return false;
  *tables = *shared;
  return true;
}

uint32_t UpdateStore(const std::string& path, const std::function<uint32_t(Tables&)>& change,
                     std::string* error, const std::function<bool()>& may_write) {
  std::string ignored;
  if (!error) error = &ignored;
  if (path.empty()) {
    *error = "no store file named";
    return dmi::kDmiStoreFailed;
  }
  const std::string native = platform::NativePath(path);
  uint32_t status = dmi::kDmiOk;
  bool unreadable = false;
  std::shared_ptr<const Tables> written;
  std::string written_raw;
  const bool done = kvbase::UpdateFileLocked(
      native,
      [&](const std::string& current, bool exists, std::string* replacement) {
        std::shared_ptr<const kvbase::ProfileText> text;
        std::shared_ptr<const Tables> before =
            exists ? Parsed(native, current, nullptr, 0, error, &text) : EmptyTables();
        if (!before) {
          unreadable = true;
          return false;
        }
        Tables tables = *before;
        status = change(tables);
        if (status != dmi::kDmiOk) return false;
        if (current.empty()) {
          *replacement = FormatStore(tables, platform::NativeLineEnd());
        } else {
          // Only the lines that say something else now are rewritten: what a
          // person added stays, and the file keeps its line ends whichever
          // system wrote it.
          std::optional<std::string> edited = kvbase::ApplyProfileChanges(
              current, StoreChanges(*before, tables), platform::NativeLineEnd(), text.get());
          if (edited) {
            *replacement = std::move(*edited);
          } else {
            *replacement = current;
          }
        }
        if (may_write && !may_write()) {
          status = dmi::kDmiCancelled;
          return false;
        }
        written = std::make_shared<const Tables>(std::move(tables));
        written_raw = *replacement;
        return !exists || *replacement != current;
      },
      error);
  if (!done || unreadable) return dmi::kDmiStoreFailed;
  if (written) Remember(native, std::move(written_raw), std::move(written));
  return status;
}

}  // namespace dmisp
