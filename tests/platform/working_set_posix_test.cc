// Giving back the working set on Linux: the pages of read-only file mappings
// leave memory and come back with the same bytes; nothing else moves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/working_set.h"
#include "support/scratch_dir.h"

namespace platform {
namespace {

constexpr size_t kPages = 32;

// Pages of [at, at + pages) that this process has in memory (the page
// table's present bit), whether or not the file's cache still holds them.
size_t Resident(const void* at, size_t pages) {
  const int pagemap = open("/proc/self/pagemap", O_RDONLY | O_CLOEXEC);
  if (pagemap < 0) return SIZE_MAX;
  std::vector<uint64_t> entries(pages);
  const auto offset = static_cast<off_t>(reinterpret_cast<uintptr_t>(at) / 4096 * 8);
  const ssize_t read = pread(pagemap, entries.data(), pages * 8, offset);
  close(pagemap);
  if (read != static_cast<ssize_t>(pages * 8)) return SIZE_MAX;
  size_t resident = 0;
  for (uint64_t entry : entries) resident += entry >> 63;
  return resident;
}

TEST(WorkingSetPosixTest, FilePagesLeaveOnlyWhenTrimmedAndComeBackTheSame) {
  testsupport::ScratchDir dir("workingset");
  struct statfs where {};
  ASSERT_EQ(statfs(dir.dir().c_str(), &where), 0);
  // tmpfs pages have no file to come back from: they would go to swap.
  if (where.f_type == TMPFS_MAGIC) GTEST_SKIP() << "the scratch folder is on tmpfs";
  std::string bytes(kPages * 4096, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 7 / 4096);
  const std::string path = dir.Path("pages");
  testsupport::WriteBytes(path, bytes);
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(fdatasync(fd), 0);  // clean pages, as an installed program's
  void* file = mmap(nullptr, bytes.size(), PROT_READ, MAP_PRIVATE, fd, 0);
  close(fd);
  ASSERT_NE(file, MAP_FAILED);
  std::string heap(bytes.size(), 'h');
  ASSERT_EQ(std::string(static_cast<const char*>(file), bytes.size()), bytes);
  ASSERT_EQ(Resident(file, kPages), kPages);

  TrimWhenIdle();  // not turned on: a test keeps its pages
  EXPECT_EQ(Resident(file, kPages), kPages);
  TrimWorkingSet();
  EXPECT_EQ(Resident(file, kPages), 0u);
  char* middle = heap.data() + heap.size() / 2;  // anonymous memory stays
  EXPECT_EQ(Resident(middle - reinterpret_cast<uintptr_t>(middle) % 4096, 1), 1u);
  EXPECT_EQ(std::string(static_cast<const char*>(file), bytes.size()), bytes);
  munmap(file, bytes.size());
}

}  // namespace
}  // namespace platform
