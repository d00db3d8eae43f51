// Several processes writing one file, and writers killed mid-write: no key
// is ever lost, and the file is always one whole version.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kvbase/profile.h"
#include "platform/process_info.h"
#include "platform/testing.h"
#include "support/scoped_globals.h"
#include "tests/kvbase/profile_test_util.h"

namespace kvbase_test {
namespace {

namespace pt = ::platform::testing;

constexpr char kChildFileVar[] = "SCHEDEXE_KV_CHILD_FILE";
constexpr char kChildKeysVar[] = "SCHEDEXE_KV_CHILD_KEYS";
constexpr int kKeysPerChild = 40;

// The bodies of the child processes: this test binary started again with a
// filter that selects one of these. In an ordinary run they do nothing.
TEST(KvbaseChildProcess, RewriteForever) {
  const std::string file = platform::GetEnvironmentVariable(kChildFileVar);
  if (file.empty() || !platform::GetEnvironmentVariable(kChildKeysVar).empty()) {
    GTEST_SKIP() << "only as the child of a kill test";
  }
  for (unsigned i = 1;; ++i) {
    const std::string version = "B" + std::to_string(i);
    TARNG_WriteProfileString("Big", "Version", version.c_str(), file.c_str());
  }
}

TEST(KvbaseChildProcess, WriteKeys) {
  const std::string file = platform::GetEnvironmentVariable(kChildFileVar);
  const std::string prefix = platform::GetEnvironmentVariable(kChildKeysVar);
  if (file.empty() || prefix.empty()) GTEST_SKIP() << "only as the child of a writer test";
  for (int i = 0; i < kKeysPerChild; ++i) {
    const std::string key = prefix + "_" + std::to_string(i);
    ASSERT_TRUE(
        TARNG_WriteProfileString(i % 2 ? "Odd" : "Even", key.c_str(), key.c_str(), file.c_str()));
  }
}

class ProfileProcessTest : public ::testing::Test {
 protected:
  ProfileProcessTest() : scratch_("kvproc"), file_(scratch_.Path("tarn.dat")) {}

  std::unique_ptr<pt::ChildProcess> StartChild(const std::string& test, const std::string& keys) {
    testsupport::ScopedEnv file(kChildFileVar, file_.c_str());
    testsupport::ScopedEnv prefix(kChildKeysVar, keys.empty() ? nullptr : keys.c_str());
    return pt::ChildProcess::Start(
        platform::ExecutableDirectory() + pt::Sep() + "unit_tests" + pt::ExeSuffix(),
        {"--gtest_filter=KvbaseChildProcess." + test});
  }

  std::vector<std::string> DirectoryNames() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(scratch_.dir())) {
      names.push_back(e.path().filename().string());
    }
    return names;
  }

  ScratchDir scratch_;
  std::string file_;
};

TEST_F(ProfileProcessTest, ConcurrentWritersLoseNoKey) {
  // Some bulk, so that every write takes a while and writers overlap.
  std::string filler = "[Filler]\n";
  for (int i = 0; i < 4000; ++i) filler += "Key" + std::to_string(i) + "=some value text\n";
  WriteBytes(file_, filler);

  // Processes that each write many keys in a loop, all at once.
  std::vector<std::unique_ptr<pt::ChildProcess>> writers;
  for (int p = 0; p < 4; ++p) {
    writers.push_back(StartChild("WriteKeys", "W" + std::to_string(p)));
    ASSERT_NE(writers.back(), nullptr);
  }
  for (auto& w : writers) EXPECT_EQ(w->Wait(), 0);
  for (int p = 0; p < 4; ++p) {
    for (int i = 0; i < kKeysPerChild; ++i) {
      const std::string key = "W" + std::to_string(p) + "_" + std::to_string(i);
      EXPECT_EQ(Get(file_, i % 2 ? "Odd" : "Even", key.c_str()), key);
    }
  }
  EXPECT_EQ(Get(file_, "Filler", "Key3999"), "some value text");
  EXPECT_EQ(DirectoryNames(), std::vector<std::string>{"tarn.dat"});
}

TEST_F(ProfileProcessTest, KilledWriterLeavesOldOrNewFile) {
  std::string body;
  for (int i = 0; i < 40000; ++i) {
    body +=
        "Line" + std::to_string(i) + "=" + std::string(40, static_cast<char>('a' + i % 26)) + "\n";
  }
  WriteBytes(file_, "[Big]\nVersion=A\n" + body);
  // The file is one whole version: the header line with some version, then
  // the body byte for byte.
  const auto version_of = [&](std::string* version) {
    const std::string now = FileContents(file_);
    const std::string head = "[Big]\nVersion=";
    const size_t eol = now.find('\n', head.size());
    if (now.compare(0, head.size(), head) != 0 || eol == std::string::npos ||
        now.compare(eol + 1, std::string::npos, body) != 0) {
      *version = "<torn file of " + std::to_string(now.size()) + " bytes>";
      return false;
    }
    *version = now.substr(head.size(), eol - head.size());
    return true;
  };

  std::mt19937 rng(77);
  const int kills = pt::ExeSuffix() == ".exe" ? 8 : 30;  // fewer where processes start slowly
  for (int k = 0; k < kills; ++k) {
    std::string before;
    ASSERT_TRUE(version_of(&before)) << before;
    auto child = StartChild("RewriteForever", "");
    ASSERT_NE(child, nullptr);
    if (k % 2 == 0) {
      // Let this one get going first, so that the kill lands among writes;
      // that it wrote at all shows the test is not idle.
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      std::string now = before;
      while (version_of(&now) && now == before && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
      EXPECT_NE(now, before) << "kill " << k << ": the writer never wrote";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 150));
    child->Kill();
    child->Wait();
    std::string after;
    ASSERT_TRUE(version_of(&after)) << "kill " << k << ": " << after;
    // Whatever a killed writer left beside the file is never the file.
    for (const std::string& name : DirectoryNames()) {
      if (name == "tarn.dat") continue;
      EXPECT_EQ(name.rfind(".tarn.dat.", 0), 0u) << name;
    }
  }
  // The next write clears what killed writers left.
  ASSERT_TRUE(TARNG_WriteProfileString("Big", "Version", "C", file_.c_str()));
  EXPECT_EQ(DirectoryNames(), std::vector<std::string>{"tarn.dat"});
  EXPECT_EQ(Get(file_, "Big", "Version"), "C");
}

}  // namespace
}  // namespace kvbase_test
