// One attribute set through the DMI provider as the in-process setter makes
// it (register, list the components with their classes, set, unregister)
// against one kvbase write of the same store file, in one run, so the ratio
// does not depend on the machine. Target: at most 3.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "dmi/dmi_interface.h"
#include "kvbase/profile.h"
#include "platform/dynamic_library.h"
#include "platform/testing.h"
#include "ratio_reporter.h"

namespace {

using namespace dmi;

std::mutex confirm_mutex;
std::condition_variable confirmed;
const DmiCommandBlock* last_confirmed = nullptr;

void OnConfirm(DmiCommandBlock* block) {
  std::lock_guard<std::mutex> lock(confirm_mutex);
  last_confirmed = block;
  confirmed.notify_all();
}

DmiInvokeFunc Invoke() {
  static auto invoke = reinterpret_cast<DmiInvokeFunc>(
      platform::FindEntryPoint(platform::LoadDynamicLibrary("dmiapi32.dll"), "DmiInvoke"));
  return invoke;
}

// One command, as the setter sends it: invoked, then waited for.
uint32_t Run(std::vector<uint8_t>& request, uint32_t code, uint32_t handle,
             std::vector<uint8_t>& reply) {
  static uint32_t transaction = 1;
  auto* block = reinterpret_cast<DmiCommandBlock*>(request.data());
  *block = DmiCommandBlock{
      kLevelCheck, code, static_cast<uint32_t>(request.size()), handle,      transaction++,
      1,           0,    static_cast<uint32_t>(reply.size()),   reply.data()};
  std::unique_lock<std::mutex> lock(confirm_mutex);
  last_confirmed = nullptr;
  if (const uint32_t refused = Invoke()(block)) return refused;
  confirmed.wait(lock, [&] { return last_confirmed == block; });
  return block->status;
}

struct Fixture {
  std::string dir = platform::testing::MakeTempDir("dmibench");
  std::string store = dir + "/dmi-store.dat";
  std::string copy = dir + "/kvbase-copy.dat";
  std::vector<uint8_t> reply = std::vector<uint8_t>(16384);
  Fixture() {
    platform::testing::SetEnv("DMI_STORE", store);
    const std::string description = dir + "/bench.dmd";
    std::FILE* f = std::fopen(description.c_str(), "wb");
    std::fputs(
        "component \"Bench\"\nlanguage \"en|US|iso8859-1\"\n"
        "group 1 name \"ComponentID\" class \"DMTF|ComponentID|001\"\n"
        "attribute 1 name \"Manufacturer\" type 8 size 16 value \"Corvane\"\n"
        "group 2 name \"Profiles\" class \"BENCH|Profiles|001\" key 1\n"
        "attribute 1 name \"Row\" type 5\nattribute 2 name \"Name\" type 8 size 64\n",
        f);
    for (int row = 1; row <= 13; ++row) std::fprintf(f, "row 1=%d\n", row);
    std::fclose(f);
    const uint32_t handle = Register();
    std::vector<uint8_t> add(sizeof(DmiAddComponentRequest));
    DmiStore(add.data(), 40, static_cast<uint32_t>(description.size()));
    add.insert(add.end(), description.begin(), description.end());
    Run(add, kDmiAddComponent, handle, reply);
    Unregister(handle);
    std::string contents = platform::testing::FileContents(store);
    f = std::fopen(copy.c_str(), "wb");
    std::fwrite(contents.data(), 1, contents.size(), f);
    std::fclose(f);
  }
  ~Fixture() { platform::testing::RemoveTree(dir); }
  uint32_t Register() {
    std::vector<uint8_t> request(sizeof(DmiRegisterRequest));
    DmiStore(request.data(), offsetof(DmiRegisterRequest, confirm), &OnConfirm);
    Run(request, kDmiRegister, 0, reply);
    return DmiLoad<uint32_t>(reply.data(), 0);
  }
  void Unregister(uint32_t handle) {
    std::vector<uint8_t> request(sizeof(DmiCommandBlock));
    Run(request, kDmiUnregister, handle, reply);
  }
};

Fixture& Data() {
  static Fixture fixture;
  return fixture;
}

// A set of attribute 2 of the row that key attribute 1 = 7 names.
std::vector<uint8_t> SetRequest(const std::string& value) {
  std::vector<uint8_t> set(sizeof(DmiSetRequest));
  const auto put = [&](size_t offset, uint32_t word) { DmiStore(set.data(), offset, word); };
  const auto append = [&](uint32_t word) {
    set.resize(set.size() + 4);
    put(set.size() - 4, word);
  };
  const auto length = static_cast<uint32_t>(value.size());
  put(40, 1);  // component
  put(44, 2);  // group
  put(48, 2);  // attribute
  put(52, kDmiDisplayString);
  put(56, 1);  // one key
  put(64, sizeof(DmiSetRequest));
  put(68, 4 + length);
  append(length);
  set.insert(set.end(), value.begin(), value.end());
  set.resize(DmiPadded(set.size()));
  const auto keyValue = static_cast<uint32_t>(set.size());
  append(7);
  put(60, static_cast<uint32_t>(set.size()));
  append(1);
  append(kDmiInteger);
  append(keyValue);
  return set;
}

void BM_ProviderSet(benchmark::State& state) {
  Fixture& data = Data();
  std::vector<uint8_t> list(sizeof(DmiListComponentsRequest));
  DmiStore(list.data(), 40, kDmiListWithClasses);
  // Two values in turn: a write that changes nothing could be skipped.
  std::vector<uint8_t> sets[] = {SetRequest("Profile seven"), SetRequest("Profile eight")};
  int turn = 0;
  for (auto _ : state) {
    const uint32_t handle = data.Register();
    if (Run(list, kDmiListComponents, handle, data.reply) != kDmiOk ||
        Run(sets[turn ^= 1], kDmiSetAttribute, handle, data.reply) != kDmiOk) {
      state.SkipWithError("the provider refused a command");
      break;
    }
    data.Unregister(handle);
  }
}
BENCHMARK(BM_ProviderSet)->Unit(benchmark::kMicrosecond);

void BM_KvbaseWrite(benchmark::State& state) {
  const char* file = Data().copy.c_str();
  const char* values[] = {"Profile seven", "Profile eight"};
  int turn = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(TARNG_WriteProfileString("Bench", "Value", values[turn ^= 1], file));
  }
}
BENCHMARK(BM_KvbaseWrite)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  return RunAndPrintRatios(
      argc, argv,
      {{"BM_ProviderSet", "BM_KvbaseWrite",
        "one set through the provider / one kvbase write of the store: %.2f (target <= 3)\n"}});
}
