#include "platform/shared_snapshot.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <thread>

namespace platform::snapshot_block {

namespace {

constexpr uint32_t kMagic = 0x31515853;  // "SXQ1"
enum Word : size_t { kMagicWord, kSequence, kLength, kCapacity, kPid };
constexpr int kReadTries = 1000;

std::atomic_ref<uint32_t> At(const void* block, size_t word) {
  // Readers map the block read-only; they only ever load through this.
  return std::atomic_ref<uint32_t>(
      const_cast<uint32_t*>(static_cast<const uint32_t*>(block))[word]);
}

uint32_t* Payload(const void* block) {
  return const_cast<uint32_t*>(static_cast<const uint32_t*>(block)) +
         kSnapshotHeaderSize / sizeof(uint32_t);
}

}  // namespace

void Begin(void* block, uint32_t pid) {
  // Odd while the header is made anew, so that a reader that already sees
  // the new publisher never trusts what an earlier one left.
  auto sequence = At(block, kSequence);
  const uint32_t odd = sequence.load() | 1u;
  sequence.store(odd);
  At(block, kMagicWord).store(kMagic);
  At(block, kCapacity).store(static_cast<uint32_t>(kSnapshotCapacity));
  At(block, kPid).store(pid);
  At(block, kLength).store(0);
  sequence.store(odd + 1, std::memory_order_release);
}

bool Write(void* block, std::string_view bytes) {
  if (bytes.size() > kSnapshotCapacity) return false;
  auto sequence = At(block, kSequence);
  const uint32_t odd = sequence.load(std::memory_order_relaxed) | 1u;
  sequence.store(odd, std::memory_order_relaxed);
  std::atomic_thread_fence(std::memory_order_release);
  uint32_t* words = Payload(block);
  for (size_t i = 0; i < bytes.size(); i += sizeof(uint32_t)) {
    uint32_t word = 0;
    std::memcpy(&word, bytes.data() + i, std::min(sizeof(word), bytes.size() - i));
    std::atomic_ref<uint32_t>(words[i / sizeof(uint32_t)]).store(word, std::memory_order_relaxed);
  }
  At(block, kLength).store(static_cast<uint32_t>(bytes.size()), std::memory_order_relaxed);
  sequence.store(odd + 1, std::memory_order_release);
  return true;
}

SnapshotStatus Read(const void* block, size_t size, std::string* bytes, uint32_t* pid) {
  if (size < kSnapshotHeaderSize || At(block, kMagicWord).load() != kMagic) {
    return SnapshotStatus::kGarbled;
  }
  // The publisher as it stands, for a caller that gets no whole snapshot.
  if (pid) *pid = At(block, kPid).load();
  // Whatever the block claims, nothing is read beyond the mapping.
  const size_t room = std::min<size_t>(At(block, kCapacity).load(), size - kSnapshotHeaderSize);
  const uint32_t* words = Payload(block);
  for (int attempt = 0; attempt < kReadTries; ++attempt) {
    if (attempt > 0) std::this_thread::yield();
    const uint32_t before = At(block, kSequence).load(std::memory_order_acquire);
    if (before & 1u) continue;
    const size_t length = At(block, kLength).load(std::memory_order_relaxed);
    if (length > room) continue;
    bytes->resize(length);
    for (size_t i = 0; i < length; i += sizeof(uint32_t)) {
      const uint32_t word = At(words, i / sizeof(uint32_t)).load(std::memory_order_relaxed);
      std::memcpy(bytes->data() + i, &word, std::min(sizeof(word), length - i));
    }
    const uint32_t owner = At(block, kPid).load(std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_acquire);
    if (At(block, kSequence).load(std::memory_order_relaxed) != before) continue;
    if (pid) *pid = owner;
    return SnapshotStatus::kOk;
  }
  return SnapshotStatus::kUnstable;
}

}  // namespace platform::snapshot_block
