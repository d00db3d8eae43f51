#include "dmi/dmi_setter.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string_view>

#include "dmi/class_path.h"
#include "dmi/command_block.h"
#include "dmi/dmi_library.h"
#include "platform/clock.h"
#include "platform/log.h"
#include "platform/named_mutex.h"

namespace dmi {

namespace {

// A cache listing that still does not fit this many bytes is taken as a
// provider gone wrong rather than grown further.
constexpr uint32_t kComponentCacheLimit = 64u << 20;
// Room for the language strings of one component.
constexpr uint32_t kLanguageListSize = 4096;

struct SetterState {
  std::atomic<uint32_t> transactionCounter{1};
  // The reply of the last full component listing (classes form). A raw
  // buffer: a provider that stopped answering may still write into it.
  uint8_t* componentCache = nullptr;
  uint32_t componentCacheSize = kComponentCacheInitialSize;
  uint32_t componentCount = 0;
  // Set by indications on the provider's thread.
  std::atomic<bool> componentCacheStale{true};
  std::atomic<bool> cachePrimed{false};
  // Set once a cancel went unanswered: from then on every command fails at
  // once instead of waiting another minute for a provider that is gone.
  std::atomic<bool> provider_lost{false};
};

SetterState& State() {
  // Never destroyed: the provider's thread may call back until the end.
  static SetterState* state = new SetterState;
  return *state;
}

// Progress texts: the log's most detailed level (the tools that set values
// in-process keep the log off).
void Trace(const std::string& text) { platform::Log(platform::LogLevel::kDebug, text); }

std::string Format(const char* format, const std::string& text) {
  std::string out(text.size() + 64, '\0');
  const int n = std::snprintf(out.data(), out.size(), format, text.c_str());
  out.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return out;
}

// A text argument as the C runtime's atoi reads it, out-of-range values held
// at the int limits.
int AtoI(const char* text) {
  const long value = std::strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

struct CachedGroup {
  uint32_t id;
  std::string_view class_string;
};
struct CachedComponent {
  uint32_t id;
  std::vector<CachedGroup> groups;
};

// The classes form of a component listing held in `buffer` (`size` bytes),
// read no further than the buffer's end whatever its counts claim.
std::vector<CachedComponent> ReadComponentClasses(const uint8_t* buffer, size_t size) {
  std::vector<CachedComponent> components;
  if (!buffer || size < sizeof(DmiListReply)) return components;
  const uint32_t count = DmiLoad<uint32_t>(buffer, 0);
  size_t at = sizeof(DmiListReply);
  for (uint32_t c = 0; c < count && size - at >= sizeof(DmiComponentClassesEntry); ++c) {
    const auto entry = DmiLoad<DmiComponentClassesEntry>(buffer, at);
    at += sizeof entry;
    CachedComponent& component = components.emplace_back(CachedComponent{entry.componentId, {}});
    for (uint32_t g = 0; g < entry.groupCount; ++g) {
      if (size - at < sizeof(DmiGroupClassEntry)) return components;
      const auto group = DmiLoad<DmiGroupClassEntry>(buffer, at);
      at += sizeof group;
      if (size - at < group.classLength) return components;
      component.groups.push_back(
          {group.groupId,
           std::string_view(reinterpret_cast<const char*>(buffer) + at, group.classLength)});
      at = std::min(size, at + DmiPadded(group.classLength));
    }
  }
  return components;
}

// Lists every component with its group classes into the cache, doubling the
// cache until the listing fits. Holds registrationMutex.
bool ListComponentsIntoCache(uint32_t handle) {
  SetterState& s = State();
  if (!s.componentCache) s.componentCache = new uint8_t[s.componentCacheSize]();
  for (;;) {
    CommandBlock command(kDmiListComponents, handle, kCommandSize, 0);
    command.block()->confirmBuffer = s.componentCache;
    command.block()->confirmLength = s.componentCacheSize;
    DmiStore<uint32_t>(command.bytes(), offsetof(DmiListComponentsRequest, form),
                       kDmiListWithClasses);
    const uint32_t status = command.Execute();
    if (status == kDmiOk) break;
    if (status == kDmiProviderLost) {
      // The provider may still write into it.
      KeepForever(std::unique_ptr<uint8_t[]>(s.componentCache));
      s.componentCache = nullptr;
      return false;
    }
    if ((status != kDmiMoreData && status != kDmiBufferTooSmall) ||
        s.componentCacheSize >= kComponentCacheLimit) {
      return false;
    }
    delete[] s.componentCache;
    s.componentCacheSize *= 2;
    s.componentCache = new uint8_t[s.componentCacheSize]();
  }
  s.componentCount = DmiLoad<uint32_t>(s.componentCache, 0);
  return true;
}

// The first language string of every cached component, through a handle of
// the registration library. Holds registrationMutex.
void ReadLanguages() {
  DmiLibraryState& lib = DmiLibrary();
  if (!lib.DmiRegister || !lib.DmiUnregister || !lib.DmiListLanguages) return;
  const auto register_fn = reinterpret_cast<DmiRegisterFunc>(lib.DmiRegister);
  const auto unregister_fn = reinterpret_cast<DmiUnregisterFunc>(lib.DmiUnregister);
  const auto list_fn = reinterpret_cast<DmiListLanguagesFunc>(lib.DmiListLanguages);
  uint32_t handle = 0;
  if (!Succeeded(register_fn(&handle))) return;
  SetterState& s = State();
  std::unique_ptr<uint8_t[]> list(new uint8_t[kLanguageListSize]);
  for (const CachedComponent& component :
       ReadComponentClasses(s.componentCache, s.componentCacheSize)) {
    if (component.id >= kLanguageTableSize) continue;
    std::string& language = lib.languageTable[component.id];
    language.clear();
    if (list_fn(handle, component.id, list.get(), kLanguageListSize) != kDmiOk ||
        DmiLoad<uint32_t>(list.get(), 0) == 0) {
      continue;
    }
    const uint32_t length = DmiLoad<uint32_t>(list.get(), 4);
    if (length > kLanguageListSize - 8) continue;
    // Kept as a NUL-ended text: anything after a NUL is not part of it.
    language.assign(reinterpret_cast<const char*>(list.get()) + 8, length);
    language.resize(std::min(language.size(), language.find('\0')));
  }
  unregister_fn(handle);
}

// Lists the components again when an indication made the cache stale.
// False when there is no cache. Holds registrationMutex.
bool RebuildStaleCache(uint32_t handle) {
  SetterState& s = State();
  if (s.componentCacheStale.exchange(false)) {
    if (!ListComponentsIntoCache(handle)) return false;
    ReadLanguages();
  }
  return s.componentCache != nullptr;
}

bool IsUnicodeComponent(uint32_t componentId) {
  std::lock_guard<std::mutex> lock(*DmiLibrary().registrationMutex);
  return componentId < kLanguageTableSize && IsUnicodeLanguage(static_cast<int>(componentId));
}

int SetWithHandle(uint32_t handle, const char* classPath, const char* attributeIdText,
                  const char* valueText, const char* keyListText, const char* typeText,
                  std::string* failure) {
  uint32_t component_id = 0;
  uint32_t group_id = 0;
  if (!FindComponentGroup(handle, classPath, &component_id, &group_id)) {
    *failure = Format("Class %s not found\n", classPath);
    return kSetClassNotFound;
  }
  const int attribute_id = AtoI(attributeIdText);
  if (attribute_id == 0) {
    *failure = Format("Invalid attribute id %s\n", attributeIdText);
    return kSetInvalidAttributeId;
  }
  const int type = AtoI(typeText);
  std::string value;
  if (!ConvertDmiValue(type, valueText, IsUnicodeComponent(component_id), &value)) {
    *failure = Format("Unknown type %s\n", std::to_string(type));
    return kSetUnknownType;
  }
  const std::vector<DmiKeyValue> keys = ParseKeyList(keyListText);
  const uint32_t status =
      slSetAttribute(handle, component_id, group_id, keys, static_cast<uint32_t>(attribute_id),
                     static_cast<uint32_t>(type), value);
  Trace("Back from slSetAttribute with return code " + std::to_string(status));
  if (status != kDmiOk) {
    char text[64];
    std::snprintf(text, sizeof text, "Set Failed, DMI error 0x%X\n", status);
    *failure = text;
    return kSetFailed;
  }
  return kSetOk;
}

}  // namespace

uint32_t NextTransactionId() { return State().transactionCounter++; }

bool IsProviderLost() { return State().provider_lost; }

int SetDmiAttribute(const char* classPath, const char* attributeIdText, const char* valueText,
                    const char* keyListText, const char* typeText, std::string* failure) {
  std::string ignored;
  if (!failure) failure = &ignored;
  failure->clear();
  // Any argument may be missing; it reads as an empty text.
  const auto text = [](const char* t) { return t ? t : ""; };
  // Everyone may use the mutex. When it cannot be made the set still runs,
  // unserialised, rather than not at all.
  static platform::NamedMutex* sched_mutex =
      platform::NamedMutex::Create(kSchedMutexName).release();
  const bool locked = sched_mutex && sched_mutex->Lock();
  uint32_t handle = 0;
  int result = kSetRegistrationFailed;
  if (slRegister(&handle)) {
    result = SetWithHandle(handle, text(classPath), text(attributeIdText), text(valueText),
                           text(keyListText), text(typeText), failure);
    Trace("Calling slUnregister");
    slUnregister(handle);
  } else {
    *failure = "slRegister() failed\n";
  }
  Trace("Releaseing Mutex");
  if (locked) sched_mutex->Unlock();
  return result;
}

int slRegister(uint32_t* handle) {
  DmiLibraryState& lib = DmiLibrary();
  // Without the provider every attempt would fail; eleven of them with their
  // pauses would hold the caller for nearly a minute.
  if (!lib.DmiInvoke || !lib.confirmEvent || !lib.invokeMutex || !lib.registrationMutex) return 0;
  SetterState& s = State();
  for (int attempt = 1; attempt <= kRegisterAttempts; ++attempt) {
    CommandBlock command(kDmiRegister, 0, kCommandSize, kCommandSize);
    DmiStore<DmiConfirmFunc>(command.bytes(), offsetof(DmiRegisterRequest, confirm),
                             ConfirmCallback);
    DmiStore<DmiIndicationFunc>(command.bytes(), offsetof(DmiRegisterRequest, indication),
                                IndicationCallback);
    const uint32_t status = command.Execute();
    if (Succeeded(status)) {
      *handle = DmiLoad<uint32_t>(command.reply(), 0);
      if (!s.cachePrimed || s.componentCacheStale) {
        uint32_t component_id = 0;
        uint32_t group_id = 0;
        FindComponentGroup(*handle, "DMTF|ComponentID|", &component_id, &group_id);
        s.cachePrimed = true;
      }
      return 1;
    }
    if (status == kDmiProviderLost) return 0;
    if (attempt < kRegisterAttempts) platform::SystemClock().Sleep(kRegisterPauseMs);
  }
  return 0;
}

int slUnregister(uint32_t handle) {
  CommandBlock command(kDmiUnregister, handle, kCommandSize, kCommandSize);
  return Succeeded(command.Execute()) ? 1 : 0;
}

uint32_t slSynchronousExecute(DmiCommandBlock* block) {
  Trace("Inside slSynchronousExecute");
  DmiLibraryState& lib = DmiLibrary();
  SetterState& s = State();
  const auto invoke = reinterpret_cast<DmiInvokeFunc>(lib.DmiInvoke);
  if (!invoke || !lib.invokeMutex || !lib.confirmEvent) return kDmiProviderLost;
  std::lock_guard<std::mutex> lock(*lib.invokeMutex);
  if (s.provider_lost) return kDmiProviderLost;
  lib.confirmEvent->Reset();
  const uint32_t status = invoke(block);
  if (!Succeeded(status)) return status;
  if (lib.confirmEvent->Wait(kConfirmWaitMs)) return block->status;
  block->commandCode = kDmiCancel;
  invoke(block);
  if (lib.confirmEvent->Wait(kConfirmWaitMs)) return kDmiCancelled;
  // Neither the command nor its cancel was confirmed. Rather than sleep for
  // good, give up on the provider: the block stays allocated (a late confirm
  // may still write into it) and later commands fail at once.
  s.provider_lost = true;
  return kDmiProviderLost;
}

bool RefreshComponentCache(uint32_t handle) {
  std::lock_guard<std::mutex> lock(*DmiLibrary().registrationMutex);
  return RebuildStaleCache(handle);
}

int FindComponentGroup(uint32_t handle, const char* classPath, uint32_t* componentId,
                       uint32_t* groupId) {
  DmiLibraryState& lib = DmiLibrary();
  SetterState& s = State();
  std::lock_guard<std::mutex> lock(*lib.registrationMutex);
  if (!RebuildStaleCache(handle)) return 0;
  const ClassPath path = SplitClassPath(classPath ? classPath : "");
  const auto matches = [](const std::string& search, const CachedComponent& component) {
    for (const CachedGroup& group : component.groups) {
      if (ClassMatches(search, group.class_string)) return &group;
    }
    return static_cast<const CachedGroup*>(nullptr);
  };
  for (const CachedComponent& component :
       ReadComponentClasses(s.componentCache, s.componentCacheSize)) {
    *componentId = component.id;
    if (path.has_component_class && !matches(path.component_class, component)) continue;
    if (const CachedGroup* group = matches(path.group_class, component)) {
      *groupId = group->id;
      return 1;
    }
  }
  return 0;
}

uint32_t slSetAttribute(uint32_t handle, uint32_t componentId, uint32_t groupId,
                        const std::vector<DmiKeyValue>& keys, uint32_t attributeId, uint32_t type,
                        const std::string& value) {
  const bool unicode = IsUnicodeComponent(componentId);
  const size_t key_count = keys.size() < kDmiMaxKeys ? keys.size() : kDmiMaxKeys;
  std::vector<std::string> key_values;
  size_t key_bytes = 0;
  for (size_t i = 0; i < key_count; ++i) {
    key_values.push_back(EncodeDmiKeyValue(keys[i], unicode));
    key_bytes += DmiPadded(key_values.back().size());
  }
  const size_t value_bytes = DmiPadded(value.size());
  const size_t key_list_offset = sizeof(DmiSetRequest) + value_bytes;
  const size_t contents = key_list_offset + key_count * sizeof(DmiKey) + key_bytes;
  CommandBlock command(kDmiSetAttribute, handle, static_cast<uint32_t>(contents + 1024),
                       kCommandSize);
  uint8_t* bytes = command.bytes();
  DmiSetRequest request{};
  request.block = *command.block();
  request.componentId = componentId;
  request.groupId = groupId;
  request.attributeId = attributeId;
  request.type = type;
  request.keyCount = static_cast<uint32_t>(key_count);
  request.keyListOffset = static_cast<uint32_t>(key_list_offset);
  request.valueOffset = sizeof(DmiSetRequest);
  request.valueLength = static_cast<uint32_t>(value.size());
  DmiStore(bytes, 0, request);
  std::copy(value.begin(), value.end(), bytes + sizeof(DmiSetRequest));
  size_t value_at = key_list_offset + key_count * sizeof(DmiKey);
  for (size_t i = 0; i < key_count; ++i) {
    const DmiKey key{static_cast<uint32_t>(keys[i].attribute_id), keys[i].type,
                     static_cast<uint32_t>(value_at)};
    DmiStore(bytes, key_list_offset + i * sizeof(DmiKey), key);
    std::copy(key_values[i].begin(), key_values[i].end(), bytes + value_at);
    value_at += DmiPadded(key_values[i].size());
  }
  const uint32_t status = command.Execute();
  return Succeeded(status) ? 0 : status;
}

extern "C" void ConfirmCallback(DmiCommandBlock*) { DmiLibrary().confirmEvent->Set(); }

extern "C" void IndicationCallback(const DmiIndication* indication) {
  if (!indication) return;
  switch (indication->kind) {
    case kDmiComponentAdded:
    case kDmiComponentDeleted:
    case kDmiComponentChanged:
      State().componentCacheStale = true;
      break;
    default:
      break;
  }
}

namespace testing {

void ResetDmiSetterForTesting() {
  SetterState& s = State();
  delete[] s.componentCache;
  s.componentCache = nullptr;
  s.componentCacheSize = kComponentCacheInitialSize;
  s.componentCount = 0;
  s.componentCacheStale = true;
  s.cachePrimed = false;
  s.provider_lost = false;
  s.transactionCounter = 1;
}

}  // namespace testing

}  // namespace dmi
