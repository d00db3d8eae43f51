// A block of bytes that one process publishes under a machine-wide name and
// any other process may read at any time: the publisher never waits for a
// reader, and a reader never trusts what it finds. The object lives only as
// long as its publisher: once that process is gone, for whatever reason, a
// reader finds nothing.
#ifndef SCHEDEXE_PLATFORM_SHARED_SNAPSHOT_H_
#define SCHEDEXE_PLATFORM_SHARED_SNAPSHOT_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

// Bytes one snapshot can hold.
inline constexpr size_t kSnapshotCapacity = size_t{60} * 1024;

class SnapshotPublisher {
 public:
  virtual ~SnapshotPublisher() = default;

  // The one publisher of `name`; nullptr when another live process publishes
  // it already or the object cannot be made. A name holds no '/' or '\'.
  static std::unique_ptr<SnapshotPublisher> Create(std::string_view name);

  // Replaces what readers see, in one step for them. Never blocks and never
  // allocates; false (nothing changes) when `bytes` exceed the capacity.
  // One thread at a time.
  virtual bool Publish(std::string_view bytes) = 0;
};

enum class SnapshotStatus {
  kOk,
  kAbsent,    // no live publisher
  kUnstable,  // the publisher rewrote it during every try
  kGarbled,   // not a snapshot of this kind
};

// What the live publisher of `name` last published, and its process id.
SnapshotStatus ReadSnapshot(std::string_view name, std::string* bytes, uint32_t* publisher_pid);

// The name under which this instance of the service publishes `base`. On
// Windows there is one service per machine; on Linux a daemon is its
// registry file, so the name carries a digest of that file's path.
std::string InstanceObjectName(std::string_view base);

// The layout both backends share, over a mapped block of `size` bytes (at
// least kSnapshotBlockSize). A sequence counter, odd while the publisher
// writes, lets the reader detect and retry a torn copy. All words are read
// and written as atomics: publisher and reader are in different processes.
inline constexpr size_t kSnapshotHeaderSize = 32;
inline constexpr size_t kSnapshotBlockSize = kSnapshotHeaderSize + kSnapshotCapacity;
namespace snapshot_block {
// Makes a fresh block (odd counter, no bytes) for `pid`.
void Begin(void* block, uint32_t pid);
bool Write(void* block, std::string_view bytes);
SnapshotStatus Read(const void* block, size_t size, std::string* bytes, uint32_t* pid);
}  // namespace snapshot_block

}  // namespace platform

#endif  // SCHEDEXE_PLATFORM_SHARED_SNAPSHOT_H_
