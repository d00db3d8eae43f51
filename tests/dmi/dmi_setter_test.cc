// The in-process attribute setter against a provider of the test's own, whose
// answers and silences the test chooses, in virtual time.
#include "dmi/dmi_setter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "dmi/dmi_library.h"
#include "platform/named_mutex.h"
#include "support/manual_clock.h"

namespace dmi {
namespace {

constexpr char kTableClass[] =
    "CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Scheduler Profile Table|";
constexpr char kTriggerClass[] = "CORVANEX|Remote Execution Triggers|";

struct SentSet {
  uint32_t component_id, group_id, attribute_id, type;
  std::string value;
  uint32_t key_count;
};

// A provider with components 1 (the agent's tables) and 2 (a unicode one
// holding the triggers), plus `extra_components` filler ones. It confirms
// before DmiInvoke returns, unless told to keep silent, so that the only
// waits on the clock are the ones for silence.
class FakeProvider {
 public:
  FakeProvider() { current = this; }
  ~FakeProvider() { current = nullptr; }

  static uint32_t Invoke(DmiCommandBlock* block) { return current->Accept(block); }
  static uint32_t Register(uint32_t* handle) {
    *handle = 77;
    return kDmiOk;
  }
  static uint32_t Unregister(uint32_t) { return kDmiOk; }
  static uint32_t ListLanguages(uint32_t, uint32_t id, uint8_t* list, uint32_t) {
    const std::string language = id == 2 ? "en|US|unicode" : "en|US|iso8859-1";
    DmiStore<uint32_t>(list, 0, 1);
    DmiStore<uint32_t>(list, 4, static_cast<uint32_t>(language.size()));
    std::copy(language.begin(), language.end(), list + 8);
    return kDmiOk;
  }

  std::atomic<int> fail_registers{0};
  std::atomic<bool> silent_sets{false};     // a set is never confirmed
  std::atomic<bool> silent_cancels{false};  // nor is its cancel
  std::atomic<uint32_t> set_status{kDmiOk};
  int extra_components = 0;
  std::vector<SentSet> sets;
  std::vector<uint32_t> codes;  // every accepted command

 private:
  static inline FakeProvider* current = nullptr;

  uint32_t Accept(DmiCommandBlock* block) {
    codes.push_back(block->commandCode);
    if (block->commandCode == kDmiCancel && silent_cancels) return kDmiOk;
    if (block->commandCode == kDmiSetAttribute && silent_sets) return kDmiOk;
    block->status = Execute(block);
    ConfirmCallback(block);
    return kDmiOk;
  }

  uint32_t Execute(DmiCommandBlock* block) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(block);
    switch (block->commandCode) {
      case kDmiRegister:
        if (fail_registers > 0) {
          --fail_registers;
          return kDmiStoreFailed;
        }
        DmiStore<uint32_t>(block->confirmBuffer, 0, 5);
        return kDmiOk;
      case kDmiListComponents:
        return ListClasses(block);
      case kDmiSetAttribute: {
        const auto request = DmiLoad<DmiSetRequest>(bytes, 0);
        sets.push_back({request.componentId, request.groupId, request.attributeId, request.type,
                        std::string(reinterpret_cast<const char*>(bytes) + request.valueOffset,
                                    request.valueLength),
                        request.keyCount});
        return set_status;
      }
      case kDmiCancel:
        return kDmiCancelled;
      default:
        return kDmiOk;
    }
  }

  uint32_t ListClasses(DmiCommandBlock* block) {
    std::vector<std::pair<uint32_t, std::vector<std::string>>> components = {
        {1,
         {"DMTF|ComponentID|001", "CORVANEX|Events, Alarms & Responses Creation|001",
          "CORVANEX|General|001", "CORVANEX|Scheduler Profile Table|001"}},
        {2, {"DMTF|ComponentID|001", "CORVANEX|Remote Execution Triggers|001"}}};
    for (int i = 0; i < extra_components; ++i) {
      components.push_back({static_cast<uint32_t>(10 + i), std::vector<std::string>(20, "F|x|1")});
    }
    std::string reply(4, '\0');
    DmiStore<uint32_t>(reply.data(), 0, static_cast<uint32_t>(components.size()));
    for (const auto& [id, classes] : components) {
      const DmiComponentClassesEntry entry{id, static_cast<uint32_t>(classes.size())};
      reply.append(reinterpret_cast<const char*>(&entry), sizeof entry);
      for (size_t g = 0; g < classes.size(); ++g) {
        const DmiGroupClassEntry group{static_cast<uint32_t>(g + 1),
                                       static_cast<uint32_t>(classes[g].size())};
        reply.append(reinterpret_cast<const char*>(&group), sizeof group);
        reply.append(classes[g]);
        reply.resize(DmiPadded(reply.size()));
      }
    }
    if (reply.size() > block->confirmLength) return kDmiMoreData;
    std::memcpy(block->confirmBuffer, reply.data(), reply.size());
    return kDmiOk;
  }
};

class DmiSetterTest : public ::testing::Test {
 protected:
  DmiSetterTest() {
    testing::ResetDmiLibraryForTesting("dmitest_absent.dll");
    testing::ResetDmiSetterForTesting();
    LoadDmiLibrary("dmitest_absent.dll");
    DmiLibraryState& lib = DmiLibrary();
    lib.DmiInvoke = reinterpret_cast<void*>(&FakeProvider::Invoke);
    lib.DmiRegister = reinterpret_cast<void*>(&FakeProvider::Register);
    lib.DmiUnregister = reinterpret_cast<void*>(&FakeProvider::Unregister);
    lib.DmiListLanguages = reinterpret_cast<void*>(&FakeProvider::ListLanguages);
  }
  ~DmiSetterTest() override {
    testing::ResetDmiSetterForTesting();
    testing::ResetDmiLibraryForTesting();
  }

  // Runs a set on a thread of its own and moves virtual time to each
  // deadline it waits for, until it has returned.
  int SetInVirtualTime(const char* path, const char* attribute, const char* value, const char* keys,
                       const char* type) {
    std::atomic<int> result{-1};
    std::thread setter([&] { result = SetDmiAttribute(path, attribute, value, keys, type); });
    while (result < 0) {
      if (time.clock.AwaitTimedWaiters(1, 50)) time.clock.AdvanceToNextDeadline();
    }
    setter.join();
    return result;
  }

  int Count(uint32_t code) {
    return static_cast<int>(std::count(provider.codes.begin(), provider.codes.end(), code));
  }

  testsupport::UtcManualTime time{1'000'000'000};
  FakeProvider provider;
};

TEST_F(DmiSetterTest, SetsTheAttributeOfTheRowTheKeysNameAndReportsEachFailure) {
  // The two-bar path finds its group in any component; that one is unicode.
  EXPECT_EQ(SetDmiAttribute(kTriggerClass, "16", "synch", "", "8"), kSetOk);
  ASSERT_EQ(provider.sets.size(), 1u);
  const SentSet& set = provider.sets[0];
  EXPECT_EQ(set.component_id, 2u);
  EXPECT_EQ(set.group_id, 2u);
  EXPECT_EQ(set.attribute_id, 16u);
  EXPECT_EQ(set.type, 8u);
  EXPECT_EQ(set.value, std::string("\12\0\0\0s\0y\0n\0c\0h\0", 14));
  EXPECT_EQ(set.key_count, 0u);

  struct Case {
    const char *path, *attribute, *type;
    uint32_t status;
    int result;
    const char* failure;
  };
  const Case cases[] = {
      {"CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Nothing|", "7", "8", 0,
       kSetClassNotFound,
       "Class CORVANEX|Events, Alarms & Responses Creation||CORVANEX|Nothing| "
       "not found\n"},
      {"OTHER|Events||CORVANEX|General|", "2", "8", 0, kSetClassNotFound, nullptr},
      {kTableClass, "0", "8", 0, kSetInvalidAttributeId, "Invalid attribute id 0\n"},
      {kTableClass, "7", "4", 0, kSetUnknownType, "Unknown type 4\n"},
      {kTableClass, "7", "8", kDmiRowNotFound, kSetFailed, "Set Failed, DMI error 0x1007\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.attribute + " " + c.type);
    provider.set_status = c.status;
    const int unregisters = Count(kDmiUnregister);
    std::string failure;
    EXPECT_EQ(SetDmiAttribute(c.path, c.attribute, "x", "A1|1", c.type, &failure), c.result);
    if (c.failure) {
      EXPECT_EQ(failure, c.failure);
    }
    EXPECT_EQ(Count(kDmiUnregister), unregisters + 1);
  }
  // Each set registered and unregistered its own handle.
  EXPECT_EQ(Count(kDmiRegister), Count(kDmiUnregister));
}

TEST_F(DmiSetterTest, RegistrationRetriesTenTimesFiveSecondsApartThenGivesUp) {
  provider.fail_registers = 10;
  const int64_t start = time.clock.NowMs();
  EXPECT_EQ(SetInVirtualTime(kTableClass, "7", "Active", "A1|1", "8"), kSetOk);
  EXPECT_EQ(time.clock.NowMs() - start, 10 * 5000);

  provider.fail_registers = 11;
  const int unregisters = Count(kDmiUnregister);
  EXPECT_EQ(SetInVirtualTime(kTableClass, "7", "Active", "A1|1", "8"), kSetRegistrationFailed);
  EXPECT_EQ(Count(kDmiUnregister), unregisters);
  // The named mutex was released: another thread can take it (once other
  // programs of this machine that set attributes let go of it).
  std::thread other([] {
    auto mutex = platform::NamedMutex::Create(kSchedMutexName);
    bool taken = false;
    for (int i = 0; mutex && !(taken = mutex->TryLock()) && i < 1000; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(taken);
    if (taken) mutex->Unlock();
  });
  other.join();

  // Without the provider's entry point, registration fails at once.
  DmiLibrary().DmiInvoke = nullptr;
  const int64_t before = time.clock.NowMs();
  EXPECT_EQ(SetDmiAttribute(kTableClass, "7", "Active", "A1|1", "8"), kSetRegistrationFailed);
  EXPECT_EQ(time.clock.NowMs(), before);
}

TEST_F(DmiSetterTest, AnUnconfirmedSetIsCancelledAndAnUnansweredCancelLosesTheProvider) {
  provider.silent_sets = true;
  EXPECT_EQ(SetInVirtualTime(kTableClass, "7", "Active", "A1|1", "8"), kSetFailed);
  EXPECT_EQ(Count(kDmiCancel), 1);
  // The set went unanswered, its cancel did not: later sets still work.
  provider.silent_sets = false;
  EXPECT_EQ(SetDmiAttribute(kTableClass, "7", "Active", "A1|1", "8"), kSetOk);

  provider.silent_sets = true;
  provider.silent_cancels = true;
  const int64_t start = time.clock.NowMs();
  EXPECT_EQ(SetInVirtualTime(kTableClass, "7", "Active", "A1|1", "8"), kSetFailed);
  EXPECT_EQ(time.clock.NowMs() - start, 2 * 30000);
  // From then on every command fails at once, without reaching the provider.
  const size_t sent = provider.codes.size();
  EXPECT_EQ(SetDmiAttribute(kTableClass, "7", "Active", "A1|1", "8"), kSetRegistrationFailed);
  EXPECT_EQ(provider.codes.size(), sent);
  EXPECT_EQ(time.clock.NowMs() - start, 2 * 30000);
}

TEST_F(DmiSetterTest, TheComponentCacheGrowsUntilTheListingFitsAndIsRebuiltOnIndications) {
  provider.extra_components = 250;  // about 100 KB of class strings
  EXPECT_EQ(SetDmiAttribute(kTableClass, "7", "Active", "A1|1", "8"), kSetOk);
  EXPECT_EQ(Count(kDmiListComponents), 4);  // 16, 32, 64 and 128 KB
  EXPECT_EQ(SetDmiAttribute(kTableClass, "7", "Active", "A1|1", "8"), kSetOk);
  EXPECT_EQ(Count(kDmiListComponents), 4);

  for (uint32_t kind :
       {kDmiEventIndication, kDmiComponentAdded, kDmiComponentDeleted, kDmiComponentChanged}) {
    const int listings = Count(kDmiListComponents);
    const DmiIndication indication{kind, 5, 1, 1};
    IndicationCallback(&indication);
    EXPECT_EQ(SetDmiAttribute(kTableClass, "7", "Active", "A1|1", "8"), kSetOk);
    EXPECT_EQ(Count(kDmiListComponents), listings + (kind == kDmiEventIndication ? 0 : 1))
        << "kind " << kind;
  }
}

}  // namespace
}  // namespace dmi
