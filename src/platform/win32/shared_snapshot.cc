// The snapshot as a named file mapping backed by the paging file. It goes
// with its last handle, so a publisher that ends or crashes leaves nothing
// unless a reader has it open at that moment: readers and a new publisher
// ask whether the publishing process still runs.
// The service runs in session 0: the mapping goes into the global namespace
// when the process may create there, else into its own session's.
#include "platform/shared_snapshot.h"

#include <windows.h>

#include <string>

#include "platform/win32/open_to_everyone.h"

namespace platform {

namespace {

constexpr char kGlobalPrefix[] = "Global\\";

class Win32SnapshotPublisher final : public SnapshotPublisher {
 public:
  Win32SnapshotPublisher(HANDLE mapping, void* block) : mapping_(mapping), block_(block) {}
  ~Win32SnapshotPublisher() override {
    UnmapViewOfFile(block_);
    CloseHandle(mapping_);
  }
  Win32SnapshotPublisher(const Win32SnapshotPublisher&) = delete;
  Win32SnapshotPublisher& operator=(const Win32SnapshotPublisher&) = delete;

  bool Publish(std::string_view bytes) override { return snapshot_block::Write(block_, bytes); }

 private:
  HANDLE mapping_;
  void* block_;
};

bool ValidName(std::string_view name) {
  return !name.empty() && name.size() < 200 && name.find_first_of("/\\") == std::string_view::npos;
}

// A reader that has the mapping open when its publisher ends keeps it in
// being, so whether the publisher lives is asked of the process itself.
bool ProcessAlive(uint32_t pid) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  // Refused: it exists, but runs as someone we may not wait for.
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

// Whether the block of `mapping` is a snapshot whose publisher has ended.
bool LeftByDeadPublisher(HANDLE mapping) {
  const void* block = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kSnapshotBlockSize);
  if (block == nullptr) return false;
  std::string bytes;
  uint32_t pid = 0;
  const SnapshotStatus status = snapshot_block::Read(block, kSnapshotBlockSize, &bytes, &pid);
  UnmapViewOfFile(block);
  return status != SnapshotStatus::kGarbled && !ProcessAlive(pid);
}

HANDLE CreateMapping(const std::string& full_name, SECURITY_ATTRIBUTES* attributes) {
  HANDLE mapping = CreateFileMappingA(INVALID_HANDLE_VALUE, attributes, PAGE_READWRITE, 0,
                                      static_cast<DWORD>(kSnapshotBlockSize), full_name.c_str());
  if (mapping != nullptr && GetLastError() == ERROR_ALREADY_EXISTS &&
      !LeftByDeadPublisher(mapping)) {
    // Someone publishes it already (or squats on the name): not ours.
    CloseHandle(mapping);
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  return mapping;
}

}  // namespace

std::unique_ptr<SnapshotPublisher> SnapshotPublisher::Create(std::string_view name) {
  if (!ValidName(name)) return nullptr;
  win32::OpenToEveryone everyone;
  if (!everyone.get()) return nullptr;
  HANDLE mapping = CreateMapping(kGlobalPrefix + std::string(name), everyone.get());
  if (mapping == nullptr && GetLastError() != ERROR_ALREADY_EXISTS) {
    mapping = CreateMapping(std::string(name), everyone.get());
  }
  if (mapping == nullptr) return nullptr;
  void* block = MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kSnapshotBlockSize);
  if (block == nullptr) {
    CloseHandle(mapping);
    return nullptr;
  }
  snapshot_block::Begin(block, static_cast<uint32_t>(GetCurrentProcessId()));
  return std::make_unique<Win32SnapshotPublisher>(mapping, block);
}

SnapshotStatus ReadSnapshot(std::string_view name, std::string* bytes, uint32_t* publisher_pid) {
  if (!ValidName(name)) return SnapshotStatus::kAbsent;
  HANDLE mapping =
      OpenFileMappingA(FILE_MAP_READ, FALSE, (kGlobalPrefix + std::string(name)).c_str());
  if (mapping == nullptr)
    mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, std::string(name).c_str());
  if (mapping == nullptr) return SnapshotStatus::kAbsent;
  SnapshotStatus status = SnapshotStatus::kGarbled;
  if (const void* block = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) {
    MEMORY_BASIC_INFORMATION info = {};
    // A mapping someone else made may be smaller than ours.
    const size_t size = VirtualQuery(block, &info, sizeof(info)) ? info.RegionSize : 0;
    status = snapshot_block::Read(block, size, bytes, publisher_pid);
    UnmapViewOfFile(block);
  }
  CloseHandle(mapping);
  if (status != SnapshotStatus::kGarbled && !ProcessAlive(*publisher_pid)) {
    return SnapshotStatus::kAbsent;
  }
  return status;
}

// One service per machine; the prefix keeps the name apart from other programs' objects.
std::string InstanceObjectName(std::string_view base) { return "schedExe." + std::string(base); }

}  // namespace platform
