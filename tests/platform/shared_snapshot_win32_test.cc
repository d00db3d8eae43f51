// A publisher that ends while a reader has its mapping open leaves the
// mapping in being: readers must not take it for live, and a new publisher
// takes the name over.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/shared_snapshot.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

TEST(SharedSnapshotWin32Test, ADeadPublishersMappingHeldOpenIsNotLive) {
  const std::string name = testsupport::UniqueName("SchedExeSnapshot");
  // Where a publisher would put it: the global namespace when allowed.
  HANDLE held = nullptr;
  for (const std::string& full : {"Global\\" + name, name}) {
    held = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                              static_cast<DWORD>(kSnapshotBlockSize), full.c_str());
    if (held != nullptr) break;
  }
  ASSERT_NE(held, nullptr);
  void* block = MapViewOfFile(held, FILE_MAP_WRITE, 0, 0, kSnapshotBlockSize);
  ASSERT_NE(block, nullptr);
  constexpr uint32_t kEndedProcess = 0x7FFFFFF0;  // no process has this id
  snapshot_block::Begin(block, kEndedProcess);
  ASSERT_TRUE(snapshot_block::Write(block, "left behind"));

  std::string bytes;
  uint32_t pid = 0;
  EXPECT_EQ(ReadSnapshot(name, &bytes, &pid), SnapshotStatus::kAbsent);
  auto publisher = SnapshotPublisher::Create(name);
  ASSERT_NE(publisher, nullptr) << "the name is taken over";
  ASSERT_EQ(ReadSnapshot(name, &bytes, &pid), SnapshotStatus::kOk);
  EXPECT_EQ(bytes, "");
  EXPECT_EQ(pid, GetCurrentProcessId());
  UnmapViewOfFile(block);
  CloseHandle(held);
}

}  // namespace
}  // namespace platform
