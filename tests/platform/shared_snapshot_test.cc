// The published snapshot, the same contract on both backends: readers that
// see whole snapshots only, and nothing once the publisher is gone.
#include "platform/shared_snapshot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/scratch_dir.h"

namespace platform {
namespace {

SnapshotStatus Read(const std::string& name, std::string* bytes) {
  uint32_t pid = 0;
  return ReadSnapshot(name, bytes, &pid);
}

TEST(SharedSnapshotTest, WholeTextsAndNothingOnceThePublisherEnds) {
  const std::string name = testsupport::UniqueName("SchedExeSnapshot");
  std::string bytes = "stale";
  EXPECT_EQ(Read(name, &bytes), SnapshotStatus::kAbsent);
  for (const char* bad : {"", "a/b", "a\\b"}) {
    EXPECT_EQ(SnapshotPublisher::Create(bad), nullptr) << bad;
    EXPECT_EQ(Read(bad, &bytes), SnapshotStatus::kAbsent) << bad;
  }
  auto publisher = SnapshotPublisher::Create(name);
  ASSERT_NE(publisher, nullptr);
  ASSERT_EQ(Read(name, &bytes), SnapshotStatus::kOk);
  EXPECT_EQ(bytes, "");

  const std::string full(kSnapshotCapacity, 'x');
  for (const std::string& text : {std::string("a"), std::string("abcd"), std::string("abcde"),
                                  std::string("\0\n\t\xff", 4), full}) {
    ASSERT_TRUE(publisher->Publish(text));
    ASSERT_EQ(Read(name, &bytes), SnapshotStatus::kOk);
    EXPECT_EQ(bytes, text);
  }
  EXPECT_FALSE(publisher->Publish(full + "y"));
  ASSERT_EQ(Read(name, &bytes), SnapshotStatus::kOk);
  EXPECT_EQ(bytes, full) << "a refused snapshot changes nothing";

  publisher.reset();
  EXPECT_EQ(Read(name, &bytes), SnapshotStatus::kAbsent);
  publisher = SnapshotPublisher::Create(name);
  ASSERT_NE(publisher, nullptr) << "the name is free again";
  ASSERT_EQ(Read(name, &bytes), SnapshotStatus::kOk);
  EXPECT_EQ(bytes, "") << "nothing of the earlier publisher";
}

TEST(SharedSnapshotTest, ReadsDuringPublishingAreNeverTorn) {
  const std::string name = testsupport::UniqueName("SchedExeSnapshot");
  auto publisher = SnapshotPublisher::Create(name);
  ASSERT_NE(publisher, nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> published{0};
  std::thread writer([&] {
    for (int i = 0; !stop; ++i) {
      publisher->Publish(std::string(100 + i % 500, static_cast<char>('a' + i % 26)));
      published = i + 1;
    }
  });
  // Reads until many whole snapshots came through while the writer ran.
  int whole = 0;
  std::string bytes;
  for (int tries = 0; tries < 1'000'000 && (whole < 100 || published < 500); ++tries) {
    if (Read(name, &bytes) != SnapshotStatus::kOk || bytes.empty()) continue;
    ++whole;
    // Every snapshot is one letter repeated; a torn copy mixes two.
    ASSERT_EQ(bytes.find_first_not_of(bytes[0]), std::string::npos);
    ASSERT_TRUE(bytes.size() >= 100 && bytes.size() < 600) << bytes.size();
  }
  stop = true;
  writer.join();
  const int last = published - 1;
  ASSERT_EQ(Read(name, &bytes), SnapshotStatus::kOk);
  EXPECT_EQ(bytes, std::string(100 + last % 500, static_cast<char>('a' + last % 26)));
  EXPECT_GE(whole, 100);
}

TEST(SharedSnapshotTest, ReaderTrustsNoLengthItFinds) {
  // Words: magic, sequence, length, capacity, publisher's process id.
  std::vector<uint32_t> block(kSnapshotBlockSize / 4);
  snapshot_block::Begin(block.data(), 7);
  ASSERT_TRUE(snapshot_block::Write(block.data(), "hello"));
  std::string bytes;
  uint32_t pid = 0;
  const size_t size = kSnapshotBlockSize;
  ASSERT_EQ(snapshot_block::Read(block.data(), size, &bytes, &pid), SnapshotStatus::kOk);
  EXPECT_EQ(bytes, "hello");
  EXPECT_EQ(pid, 7u);
  // A mapping shorter than the length claimed, a length beyond the capacity,
  // a write under way: never read.
  EXPECT_EQ(snapshot_block::Read(block.data(), kSnapshotHeaderSize + 4, &bytes, &pid),
            SnapshotStatus::kUnstable);
  block[2] = 0xFFFFFFF0u;
  EXPECT_EQ(snapshot_block::Read(block.data(), size, &bytes, &pid), SnapshotStatus::kUnstable);
  block[2] = 5;
  block[1] |= 1u;
  EXPECT_EQ(snapshot_block::Read(block.data(), size, &bytes, &pid), SnapshotStatus::kUnstable);
  block[1] += 1;
  EXPECT_EQ(snapshot_block::Read(block.data(), kSnapshotHeaderSize - 4, &bytes, &pid),
            SnapshotStatus::kGarbled);
  block[0] = 0;
  EXPECT_EQ(snapshot_block::Read(block.data(), size, &bytes, &pid), SnapshotStatus::kGarbled);
}

}  // namespace
}  // namespace platform
