// The provider through its exported entry points, as a management
// application sees it: the libraries are loaded from beside the tests and
// every command travels as a block. Each test has its own store (DMI_STORE).
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "dmi/dmi_interface.h"
#include "platform/dynamic_library.h"
#include "platform/process_info.h"
#include "platform/testing.h"
#include "support/scoped_globals.h"
#include "support/source_path.h"

namespace dmi {
namespace {

namespace pt = ::platform::testing;
using namespace std::string_literals;

constexpr char kChildStoreVar[] = "SCHEDEXE_DMI_CHILD_STORE";
constexpr char kChildFileVar[] = "SCHEDEXE_DMI_CHILD_FILE";

// A component of every type, one enumerated attribute, two rows.
constexpr char kWalk[] =
    "component \"Walk\"\nlanguage \"en|US|iso8859-1\"\n"
    "group 1 name \"ComponentID\" class \"DMTF|ComponentID|001\"\n"
    "attribute 1 name \"Manufacturer\" type 8 size 16 value \"Corvane\"\n"
    "group 2 name \"Profiles\" class \"WALK|Profiles|001\" key 1\n"
    "attribute 1 name \"Row\" type 5\nattribute 2 name \"Count\" type 1\n"
    "attribute 3 name \"Big\" type 2\nattribute 4 name \"Level\" type 3\n"
    "attribute 5 name \"Wide\" type 6\nattribute 6 name \"Blob\" type 7 size 4\n"
    "attribute 7 name \"Name\" type 8 size 8 value \"none\"\n"
    "attribute 8 name \"When\" type 11\n"
    "attribute 9 name \"State\" type 5 value 1\nenum 1 \"Active\"\n"
    "row 1=1\nrow 1=3 7=\"third\"\n";
// Names in Windows-1252: "\x80uro" goes out as UTF-16.
constexpr char kWide[] =
    "component \"\\x80uro\"\nlanguage \"en|US|unicode\"\n"
    "group 1 name \"Gr\\xF6\\xDF\" class \"DMTF|ComponentID|001\"\n"
    "attribute 1 name \"N\\xE4me\" type 8 size 16 value \"x\"\n";

std::string U32(uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); }
std::string U64(uint64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); }
std::string Text(const std::string& s) { return U32(static_cast<uint32_t>(s.size())) + s; }
uint32_t At(const std::vector<uint8_t>& b, size_t offset) {
  return DmiLoad<uint32_t>(b.data(), offset);
}
std::string Bytes(const std::vector<uint8_t>& b, size_t at, size_t n) {
  return std::string(reinterpret_cast<const char*>(b.data()) + at, n);
}

// What the callbacks saw, in order: "confirm" and "indication K id" lines.
struct Wire {
  std::mutex mutex;
  std::condition_variable changed;
  std::map<const DmiCommandBlock*, int> confirms;
  std::map<const DmiCommandBlock*, std::thread::id> confirm_threads;
  std::vector<std::string> log;
  std::function<void(const DmiCommandBlock*)> on_confirm;  // runs on the provider's thread
};
Wire& W() {
  static Wire wire;
  return wire;
}
void OnConfirm(DmiCommandBlock* block) {
  if (W().on_confirm) W().on_confirm(block);
  std::lock_guard<std::mutex> lock(W().mutex);
  ++W().confirms[block];
  W().confirm_threads[block] = std::this_thread::get_id();
  W().log.push_back("confirm");
  W().changed.notify_all();
}
void OnIndication(const DmiIndication* i) {
  std::lock_guard<std::mutex> lock(W().mutex);
  W().log.push_back("indication " + std::to_string(i->kind) + " " + std::to_string(i->componentId));
  W().changed.notify_all();
}
std::vector<std::string> TakeLog(size_t atLeast = 0) {
  std::unique_lock<std::mutex> lock(W().mutex);
  W().changed.wait_for(lock, std::chrono::seconds(60), [&] { return W().log.size() >= atLeast; });
  return std::exchange(W().log, {});
}

// A block being built: the fixed part of its code, then what Append adds.
struct Request {
  std::vector<uint8_t> bytes;
  std::vector<uint8_t> reply;
  Request(uint32_t code, size_t fixed) : bytes(fixed) {
    Put(0, kLevelCheck).Put(4, code).Put(20, 1u);
  }
  template <typename T>
  Request& Put(size_t offset, T v) {
    DmiStore(bytes.data(), offset, v);
    return *this;
  }
  uint32_t Append(const std::string& data) {
    const auto offset = static_cast<uint32_t>(bytes.size());
    bytes.insert(bytes.end(), data.begin(), data.end());
    bytes.resize(DmiPadded(bytes.size()));
    return offset;
  }
  // Keys of type 5 (a 4-byte value) or 8 (a text), count and table offset
  // written at `countAt`, `countAt + 4`.
  Request& Keys(size_t countAt, const std::vector<std::pair<uint32_t, std::string>>& keys) {
    std::vector<uint32_t> value_at;
    for (const auto& [id, value] : keys) value_at.push_back(Append(value));
    Put(countAt, static_cast<uint32_t>(keys.size()));
    Put(countAt + 4, static_cast<uint32_t>(bytes.size()));
    for (size_t i = 0; i < keys.size(); ++i) {
      Append(U32(keys[i].first) +
             U32(keys[i].second.size() == 4 ? kDmiInteger : kDmiDisplayString) + U32(value_at[i]));
    }
    return *this;
  }
  DmiCommandBlock* Finish(uint32_t handle, uint32_t replyLength) {
    static uint32_t transaction = 1;
    reply.assign(replyLength + 1, 0xEE);  // one byte more, which must stay
    block()->commandLength = static_cast<uint32_t>(bytes.size());
    block()->handle = handle;
    block()->transactionId = transaction++;
    block()->confirmLength = replyLength;
    block()->confirmBuffer = reply.data();
    return block();
  }
  DmiCommandBlock* block() { return reinterpret_cast<DmiCommandBlock*>(bytes.data()); }
};

Request Component(uint32_t code, uint32_t id) {
  return std::move(Request(code, sizeof(DmiComponentRequest)).Put(40, id));
}
Request Group(uint32_t code, uint32_t component, uint32_t group, uint32_t after = 0) {
  return std::move(Request(code, sizeof(DmiListAttributesRequest))
                       .Put(40, component)
                       .Put(44, group)
                       .Put(48, after));
}
Request Groups(uint32_t code, uint32_t component, uint32_t after = 0) {
  return std::move(Request(code, sizeof(DmiListGroupsRequest)).Put(40, component).Put(44, after));
}
Request ListComponents(uint32_t code, uint32_t form, uint32_t after = 0) {
  return std::move(Request(code, sizeof(DmiListComponentsRequest)).Put(40, form).Put(44, after));
}
Request Row(uint32_t code, uint32_t component, uint32_t group,
            const std::vector<std::pair<uint32_t, std::string>>& keys) {
  return std::move(
      Request(code, sizeof(DmiRowRequest)).Put(40, component).Put(44, group).Keys(48, keys));
}
Request Set(uint32_t component, uint32_t attribute, uint32_t type, const std::string& value,
            const std::vector<std::pair<uint32_t, std::string>>& keys) {
  Request r(kDmiSetAttribute, 88);
  r.Put(40, component).Put(44, 2u).Put(48, attribute).Put(52, type).Put(64, 88u);
  r.Put(68, static_cast<uint32_t>(value.size())).Append(value);
  return std::move(r.Keys(56, keys));
}
Request Set(uint32_t component, uint32_t attribute, uint32_t type, const std::string& value,
            uint32_t row = 1) {
  return Set(component, attribute, type, value, {{1, U32(row)}});
}

// A listing's entries: `words` numbers, then a text, each entry padded.
std::vector<std::string> Entries(const std::vector<uint8_t>& reply, int words) {
  std::vector<std::string> entries;
  size_t at = 4;
  for (uint32_t i = 0; i < At(reply, 0); ++i) {
    std::string entry;
    for (int w = 0; w < words; ++w, at += 4) entry += std::to_string(At(reply, at)) + " ";
    const uint32_t length = At(reply, at);
    entries.push_back(entry + Bytes(reply, at + 4, length));
    at += DmiPadded(4 + length);
  }
  return entries;
}
// A row reply: attribute id -> encoded value.
std::map<uint32_t, std::string> RowValues(const std::vector<uint8_t>& reply) {
  std::map<uint32_t, std::string> values;
  size_t at = 4;
  for (uint32_t i = 0; i < At(reply, 0); ++i) {
    const uint32_t length = At(reply, at + 8);
    values[At(reply, at)] = Bytes(reply, at + 12, length);
    at += DmiPadded(12 + length);
  }
  return values;
}

// Both libraries, loaded from beside the tests.
struct Libraries {
  template <typename F>
  static F Entry(const char* library, const char* name) {
    return reinterpret_cast<F>(
        platform::FindEntryPoint(platform::LoadDynamicLibrary(library), name));
  }
  DmiInvokeFunc invoke = Entry<DmiInvokeFunc>("dmiapi32.dll", "DmiInvoke");
  DmiIndicateFunc indicate = Entry<DmiIndicateFunc>("dmiapi32.dll", "DmiIndicate");
  DmiRegisterFunc register_languages = Entry<DmiRegisterFunc>("WDMI2API.DLL", "DmiRegister");
  DmiUnregisterFunc unregister_languages =
      Entry<DmiUnregisterFunc>("WDMI2API.DLL", "DmiUnregister");
  DmiListLanguagesFunc list_languages =
      Entry<DmiListLanguagesFunc>("WDMI2API.DLL", "DmiListLanguages");
};

// One management application: its handle and synchronous commands.
class Client {
 public:
  explicit Client(const Libraries& libraries) : libs_(libraries) {}
  ~Client() {
    if (handle_) Run(Request(kDmiUnregister, 40));
  }
  uint32_t Register(DmiIndicationFunc indication = OnIndication) {
    Request r(kDmiRegister, sizeof(DmiRegisterRequest));
    r.Put(offsetof(DmiRegisterRequest, confirm), &OnConfirm);
    r.Put(offsetof(DmiRegisterRequest, indication), indication);
    const uint32_t status = Run(r);
    if (status == kDmiOk) handle_ = At(r.reply, 0);
    return status;
  }
  uint32_t Invoke(Request& r, uint32_t replyLength = 4096) {
    DmiCommandBlock* block = r.Finish(handle_, replyLength);
    {
      // A block may lie where an earlier one did.
      std::lock_guard<std::mutex> lock(W().mutex);
      W().confirms.erase(block);
    }
    return libs_.invoke(block);
  }
  uint32_t Run(Request&& r, uint32_t replyLength = 4096) { return Run(r, replyLength); }
  // The command's status once confirmed, or DmiInvoke's refusal.
  uint32_t Run(Request& r, uint32_t replyLength = 4096) {
    if (const uint32_t refused = Invoke(r, replyLength)) return refused;
    WaitConfirm(r.block());
    EXPECT_EQ(r.reply.back(), 0xEE) << "written past the confirm buffer";
    if (r.block()->commandCode == kDmiUnregister) handle_ = 0;
    return r.block()->status;
  }
  static void WaitConfirm(const DmiCommandBlock* block) {
    std::unique_lock<std::mutex> lock(W().mutex);
    ASSERT_TRUE(W().changed.wait_for(lock, std::chrono::seconds(60),
                                     [&] { return W().confirms.count(block) != 0; }));
  }
  uint32_t handle() const { return handle_; }

 private:
  const Libraries& libs_;
  uint32_t handle_ = 0;
};

std::string WriteFile(const std::string& path, const std::string& text) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
  return path;
}
Request AddComponent(const std::string& path) {
  Request r(kDmiAddComponent, sizeof(DmiAddComponentRequest));
  r.Put(40, static_cast<uint32_t>(path.size())).Append(path);
  return r;
}

class ProviderTest : public ::testing::Test {
 protected:
  ProviderTest()
      : dir_(pt::MakeTempDir("dmisp")),
        store_(dir_ + pt::Sep() + "dmi-store.dat"),
        env_("DMI_STORE", store_.c_str()) {
    W().confirms.clear();
    TakeLog();
  }
  ~ProviderTest() override { pt::RemoveTree(dir_); }
  // Installs a description through `client`; its new component id.
  uint32_t Install(Client& client, const char* text, const std::string& name = "c.dmd") {
    Request add = AddComponent(WriteFile(dir_ + pt::Sep() + name, text));
    EXPECT_EQ(client.Run(add), kDmiOk);
    return At(add.reply, 0);
  }

  const std::string dir_;
  const std::string store_;
  testsupport::ScopedEnv env_;
  Libraries libs_;
};

TEST_F(ProviderTest, WalksComponentsThroughEveryCommand) {
  ASSERT_TRUE(libs_.invoke && libs_.indicate && libs_.list_languages);
  Client a(libs_), b(libs_);
  ASSERT_EQ(a.Register(), kDmiOk);
  ASSERT_EQ(b.Register(), kDmiOk);
  EXPECT_NE(a.handle(), b.handle());
  TakeLog();

  // 1026 is done when DmiInvoke returns; its confirm follows, on the
  // provider's thread, after the sender too has heard of the new component.
  Request add = AddComponent(WriteFile(dir_ + pt::Sep() + "walk.dmd", kWalk));
  ASSERT_EQ(a.Invoke(add), kDmiOk);
  EXPECT_EQ(add.block()->status, kDmiOk);
  const uint32_t id = At(add.reply, 0);
  EXPECT_EQ(id, 1u);
  Client::WaitConfirm(add.block());
  EXPECT_NE(W().confirm_threads[add.block()], std::this_thread::get_id());
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"indication 2 1", "confirm"}));
  // The other application hears of it before its next command completes.
  Request names = ListComponents(kDmiListComponents, 0);
  EXPECT_EQ(b.Run(names), kDmiOk);
  EXPECT_EQ(Entries(names.reply, 1), (std::vector<std::string>{"1 Walk"}));
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"indication 2 1", "confirm"}));

  // Listings page: 16 bytes hold the count and "Walk", not the wide name.
  const uint32_t wide = Install(a, kWide, "wide.dmd");
  const std::string euro("\xAC\x20u\0r\0o\0", 8);
  Request page = ListComponents(kDmiListComponents, 0);
  EXPECT_EQ(a.Run(page, 16), kDmiMoreData);
  EXPECT_EQ(Entries(page.reply, 1), (std::vector<std::string>{"1 Walk"}));
  Request rest = ListComponents(kDmiListComponentsNext, 0, id);
  EXPECT_EQ(a.Run(rest, 20), kDmiOk);
  EXPECT_EQ(Entries(rest.reply, 1), (std::vector<std::string>{"2 " + euro}));
  for (const uint32_t tiny : {0u, 1u, 15u}) {
    EXPECT_EQ(a.Run(ListComponents(kDmiListComponents, 0), tiny), kDmiBufferTooSmall) << tiny;
  }
  // A unicode component's name takes 4 + 8 bytes.
  EXPECT_EQ(a.Run(Component(kDmiGetComponent, wide), 11), kDmiBufferTooSmall);
  Request groups = Groups(kDmiListGroups, id);
  EXPECT_EQ(a.Run(groups), kDmiOk);
  EXPECT_EQ(Entries(groups.reply, 2),
            (std::vector<std::string>{"1 0 ComponentID", "2 1 Profiles"}));
  Request later = Groups(kDmiListGroupsNext, id, 1);
  EXPECT_EQ(a.Run(later), kDmiOk);
  EXPECT_EQ(Entries(later.reply, 2), (std::vector<std::string>{"2 1 Profiles"}));
  Request attributes = Group(kDmiListAttributes, id, 2);
  EXPECT_EQ(a.Run(attributes), kDmiOk);
  const auto all = Entries(attributes.reply, 4);
  ASSERT_EQ(all.size(), 9u);
  EXPECT_EQ(all[0], "1 5 4 1 Row");
  EXPECT_EQ(all[5], "6 7 4 0 Blob");
  EXPECT_EQ(all[6], "7 8 8 0 Name");
  Request tail = Group(kDmiListAttributesNext, id, 2, 8);
  EXPECT_EQ(a.Run(tail), kDmiOk);
  EXPECT_EQ(Entries(tail.reply, 4), std::vector<std::string>{all[8]});
  const auto state = [&](int32_t value) {
    Request r(kDmiGetEnumText, sizeof(DmiEnumTextRequest));
    return std::move(r.Put(40, id).Put(44, 2u).Put(48, 9u).Put(52, value));
  };
  Request active = state(1);
  EXPECT_EQ(a.Run(active), kDmiOk);
  EXPECT_EQ(Bytes(active.reply, 0, 10), Text("Active"));
  EXPECT_EQ(a.Run(state(2)), kDmiNoEnumeration);

  // Sets, by type, into the row that key attribute 1 names.
  const std::string octets("\0\xFF\n ", 4), date = "19991231235959.000000+060"s + '\0';
  const struct {
    uint32_t attribute, type;
    std::string value;
    uint32_t status;
  } sets[] = {
      {2, kDmiCounter, U32(7), kDmiOk},
      {3, kDmiCounter64, U64(1ull << 40), kDmiOk},
      {4, kDmiGauge, U32(9), kDmiOk},
      {5, kDmiInteger64, U64(~0ull), kDmiOk},
      {6, kDmiOctetString, Text(octets), kDmiOk},
      {7, kDmiDisplayString, Text(" a\"b\n"), kDmiOk},
      {8, kDmiDate, date, kDmiOk},
      {9, kDmiInteger, U32(~0u), kDmiOk},
      {7, kDmiInteger, U32(1), kDmiIllegalType},
      {7, kDmiDisplayString, Text("nine char"), kDmiValueTooLong},
      {6, kDmiOctetString, Text("12345"), kDmiValueTooLong},
      {10, kDmiInteger, U32(1), kDmiAttributeNotFound},
  };
  for (const auto& set : sets) {
    EXPECT_EQ(a.Run(Set(id, set.attribute, set.type, set.value)), set.status) << set.attribute;
  }
  EXPECT_EQ(a.Run(Set(id, 2, kDmiCounter, U32(1), 2)), kDmiRowNotFound);
  EXPECT_EQ(a.Run(Set(id, 2, kDmiCounter, U32(1)).Put(44, 7u)), kDmiGroupNotFound);
  EXPECT_EQ(a.Run(Set(99, 2, kDmiCounter, U32(1))), kDmiComponentNotFound);
  Request row = Row(kDmiReadRowFirst, id, 2, {{1, U32(1)}});
  EXPECT_EQ(a.Run(row), kDmiOk);
  const auto values = RowValues(row.reply);
  EXPECT_EQ(values, (std::map<uint32_t, std::string>{{1, U32(1)},
                                                     {2, U32(7)},
                                                     {3, U64(1ull << 40)},
                                                     {4, U32(9)},
                                                     {5, U64(~0ull)},
                                                     {6, Text(octets)},
                                                     {7, Text(" a\"b\n")},
                                                     {8, date},
                                                     {9, U32(~0u)}}));
  EXPECT_EQ(a.Run(Row(kDmiReadRowFirst, id, 2, {{1, U32(1)}}), 100), kDmiBufferTooSmall);

  // A row command adds a row in key order; reading walks them all.
  EXPECT_EQ(a.Run(Row(kDmiRowCommand, id, 2, {{1, U32(2)}})), kDmiOk);
  EXPECT_EQ(a.Run(Row(kDmiRowCommand, id, 2, {{1, U32(2)}})), kDmiRowExists);
  std::vector<std::string> names7;
  Request walk = Row(kDmiReadRowFirst, id, 2, {});
  for (uint32_t status = a.Run(walk); status == kDmiOk; status = a.Run(walk)) {
    const auto v = RowValues(walk.reply);
    names7.push_back(std::to_string(At(walk.reply, 16)) + "=" + v.at(7).substr(4));
    walk = Row(kDmiReadRowNext, id, 2, {{1, v.at(1)}});
  }
  EXPECT_EQ(names7, (std::vector<std::string>{"1= a\"b\n", "2=none", "3=third"}));

  // The languages of a component, through the other library.
  uint32_t languages = 0;
  ASSERT_EQ(libs_.register_languages(&languages), kDmiOk);
  std::vector<uint8_t> list(64);
  EXPECT_EQ(libs_.list_languages(languages, wide, list.data(), 16), kDmiBufferTooSmall);
  EXPECT_EQ(libs_.list_languages(languages, 99, list.data(), 64), kDmiComponentNotFound);
  EXPECT_EQ(libs_.unregister_languages(languages), kDmiOk);
  EXPECT_EQ(libs_.unregister_languages(languages), kDmiUnknownHandle);
  EXPECT_EQ(libs_.list_languages(languages, wide, list.data(), 64), kDmiUnknownHandle);

  // Deletions: b hears of both changes, in id order, at its next command.
  EXPECT_EQ(a.Run(Component(kDmiDeleteComponent, id)), kDmiOk);
  TakeLog();
  EXPECT_EQ(b.Run(Component(kDmiGetComponent, id)), kDmiComponentNotFound);
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"indication 3 1", "indication 2 2", "confirm"}));
  EXPECT_EQ(a.Run(Component(kDmiDeleteComponent, wide)), kDmiOk);
  EXPECT_EQ(a.Run(Component(kDmiDeleteComponent, wide)), kDmiComponentNotFound);

  // Unregistered, a handle is refused at once.
  const uint32_t gone = b.handle();
  EXPECT_EQ(b.Run(Request(kDmiUnregister, 40)), kDmiOk);
  EXPECT_EQ(libs_.invoke(ListComponents(kDmiListComponents, 0).Finish(gone, 64)),
            kDmiUnknownHandle);
  EXPECT_EQ(libs_.indicate(gone), kDmiUnknownHandle);
}

TEST_F(ProviderTest, KeysNameOnlyKeyAttributesOfTheirType) {
  Client a(libs_);
  ASSERT_EQ(a.Register(), kDmiOk);
  const uint32_t id = Install(a, kWalk);
  // Group 2 is keyed by attribute 1 (integer); attribute 9 holds 1 in every
  // row, and a text key of the bytes of 1 equals row 1's key value.
  const struct {
    const char* what;
    Request request;
    uint32_t status;
  } cases[] = {
      {"set, key not a key attribute", Set(id, 2, kDmiCounter, U32(5), {{9, U32(1)}}),
       kDmiAttributeNotFound},
      {"set, one key of two not a key attribute",
       Set(id, 2, kDmiCounter, U32(5), {{1, U32(1)}, {9, U32(1)}}), kDmiAttributeNotFound},
      {"set, text key of an integer", Set(id, 2, kDmiCounter, U32(5), {{1, Text(U32(1))}}),
       kDmiIllegalType},
      {"add row, key not a key attribute", Row(kDmiRowCommand, id, 2, {{1, U32(5)}, {2, U32(3)}}),
       kDmiAttributeNotFound},
      {"set by the key", Set(id, 2, kDmiCounter, U32(7), {{1, U32(3)}}), kDmiOk},
  };
  for (const auto& c : cases) {
    Request r = c.request;
    EXPECT_EQ(a.Run(r), c.status) << c.what;
  }

  // A text attribute declared with size 0 would take a value of any length.
  EXPECT_EQ(a.Run(AddComponent(WriteFile(
                dir_ + pt::Sep() + "zero.dmd",
                "component \"Z\"\nlanguage \"en|US|iso8859-1\"\n"
                "group 1 name \"G\" class \"Z|G|001\"\nattribute 1 name \"T\" type 8 size 0\n"))),
            kDmiBadDescription);
}

// A store that is a pipe, a device or a folder fails every command on the
// store with its status, and holds up none.
TEST_F(ProviderTest, AStoreThatIsASpecialFileFailsEveryCommandAtOnce) {
  const std::string walk = WriteFile(dir_ + pt::Sep() + "walk.dmd", kWalk);
  for (const pt::SpecialFile& special : pt::MakeSpecialFiles(dir_)) {
    testsupport::ScopedEnv store("DMI_STORE", special.path.c_str());
    std::vector<uint32_t> statuses;
    EXPECT_TRUE(pt::EndsUnaided(
        [&] {
          Client a(libs_);
          statuses.push_back(a.Register());
          statuses.push_back(a.Run(ListComponents(kDmiListComponents, 0)));
          statuses.push_back(a.Run(AddComponent(walk)));
          statuses.push_back(a.Run(Row(kDmiReadRowFirst, 1, 2, {})));
        },
        {special}))
        << special.what;
    EXPECT_EQ(statuses,
              (std::vector<uint32_t>{kDmiOk, kDmiStoreFailed, kDmiStoreFailed, kDmiStoreFailed}))
        << special.what;
  }
}

TEST_F(ProviderTest, RefusesMalformedBlocksAtOnce) {
  Client a(libs_);
  ASSERT_EQ(a.Register(), kDmiOk);
  // A text set with one key: value at 88 (length, "ab"), keys after it.
  const auto text = [&] { return Set(1, 7, kDmiDisplayString, Text("ab")); };
  constexpr size_t kKeyTable = 88 + 8 + 4;  // the value, then the key's own value
  const struct {
    const char* what;
    std::function<Request()> make;
    size_t offset;
    uint64_t value;
    uint32_t status;
  } cases[] = {
      {"level check", text, 0, 0x31494D44, kDmiBadLevelCheck},
      {"unknown code", text, 4, 515, kDmiUnknownCommand},
      {"length below the header", text, 8, 39, kDmiMalformedBlock},
      {"length below the fixed part", text, 8, 87, kDmiMalformedBlock},
      {"unknown handle", text, 12, 999999, kDmiUnknownHandle},
      {"null confirm buffer", text, 32, 0, kDmiMalformedBlock},
      {"value past the end", text, 68, 4096, kDmiMalformedBlock},
      {"text length past the value", text, 88, 3, kDmiMalformedBlock},
      {"value type", text, 52, 4, kDmiIllegalType},
      {"257 keys", text, 56, 257, kDmiMalformedBlock},
      {"key table past the end", text, 60, kKeyTable + 4, kDmiMalformedBlock},
      {"key value outside", text, kKeyTable + 8, 0xFFFFFFF0, kDmiMalformedBlock},
      {"key type", text, kKeyTable + 4, 7, kDmiIllegalType},
      {"date without its NUL", [] { return Set(1, 8, kDmiDate, "1999"); }, 0, 0x444D4931,
       kDmiMalformedBlock},
      {"class longer than 80", [] { return ListComponents(kDmiListComponents, 0); }, 48, 81,
       kDmiMalformedBlock},
      {"row keys past the end", [] { return Row(kDmiReadRowFirst, 1, 2, {}); }, 48, 1,
       kDmiMalformedBlock},
      {"path past the end", [] { return AddComponent("x.dmd"); }, 40, 9, kDmiMalformedBlock},
      {"register without a confirm", [] { return Request(kDmiRegister, 56); }, 48, 0,
       kDmiMalformedBlock},
  };
  std::vector<Request> refused;
  {
    std::lock_guard<std::mutex> lock(W().mutex);
    W().confirms.clear();  // blocks that are gone, whose places may come back
  }
  for (const auto& c : cases) {
    refused.push_back(c.make());
    Request& r = refused.back();
    r.Finish(a.handle(), 64);
    // A block of exactly commandLength bytes: a read past it is a fault.
    r.bytes.resize(r.block()->commandLength);
    r.bytes.shrink_to_fit();
    if (c.offset == 32) {
      r.Put(32, static_cast<uint8_t*>(nullptr));
    } else {
      r.Put(c.offset, static_cast<uint32_t>(c.value));
    }
    EXPECT_EQ(libs_.invoke(r.block()), c.status) << c.what;
  }
  EXPECT_EQ(libs_.invoke(nullptr), kDmiMalformedBlock);
  // None of them is ever confirmed: a later command is, alone.
  TakeLog();
  EXPECT_EQ(a.Run(ListComponents(kDmiListComponents, 0)), kDmiOk);
  EXPECT_EQ(TakeLog(), std::vector<std::string>{"confirm"});
  for (Request& r : refused) EXPECT_EQ(W().confirms.count(r.block()), 0u);
}

TEST_F(ProviderTest, CancelTakesBackAQueuedCommandWhichNeverConfirms) {
  Client a(libs_);
  ASSERT_EQ(a.Register(), kDmiOk);
  // The provider's thread is held in the first confirm, so the next
  // command waits in the queue.
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  Request first = ListComponents(kDmiListComponents, 0), second = first;
  Request stray(kDmiCancel, 40);
  W().on_confirm = [released, held = first.block()](const DmiCommandBlock* block) {
    if (block == held) released.wait();
  };
  ASSERT_EQ(a.Invoke(first), kDmiOk);
  ASSERT_EQ(a.Invoke(second), kDmiOk);
  // The cancel is the timed-out block itself with its code changed.
  second.Put(4, static_cast<uint32_t>(kDmiCancel));
  EXPECT_EQ(libs_.invoke(second.block()), kDmiOk);
  // A cancel that names nothing outstanding is refused and never confirms.
  EXPECT_EQ(a.Invoke(stray), kDmiNothingToCancel);
  // The cancel is answered while the thread is still held.
  Client::WaitConfirm(second.block());
  EXPECT_EQ(second.block()->status, kDmiCancelled);
  release.set_value();
  Client::WaitConfirm(first.block());
  EXPECT_EQ(second.reply[0], 0xEE) << "the cancelled listing was executed";
  // Commands run in order: once a later one is confirmed, the cancelled
  // one would have been too.
  EXPECT_EQ(a.Run(ListComponents(kDmiListComponents, 0)), kDmiOk);
  W().on_confirm = nullptr;
  EXPECT_EQ(W().confirms[second.block()], 1);
  EXPECT_EQ(W().confirms.count(stray.block()), 0u);
}

// The child processes' bodies: this binary started again with a filter. In
// an ordinary run they do nothing.
TEST(ProviderChildProcess, ChangesTheStore) {
  const std::string action = platform::GetEnvironmentVariable(kChildFileVar);
  if (action.empty()) GTEST_SKIP() << "only as the child of an indication test";
  Libraries libs;
  Client child(libs);
  ASSERT_EQ(child.Register(), kDmiOk);
  if (action.rfind("delete:", 0) == 0) {
    EXPECT_EQ(child.Run(Component(kDmiDeleteComponent,
                                  static_cast<uint32_t>(std::stoul(action.substr(7))))),
              kDmiOk);
  } else {
    EXPECT_EQ(child.Run(AddComponent(action)), kDmiOk);
  }
}

TEST_F(ProviderTest, IndicationsReachApplicationsOfAnotherProcess) {
  Client a(libs_);
  ASSERT_EQ(a.Register(), kDmiOk);
  const auto child = [&](const std::string& action) {
    testsupport::ScopedEnv env(kChildFileVar, action.c_str());
    auto process = pt::ChildProcess::Start(
        platform::ExecutableDirectory() + pt::Sep() + "unit_tests" + pt::ExeSuffix(),
        {"--gtest_filter=ProviderChildProcess.ChangesTheStore"});
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process->Wait(), 0) << action;
  };
  child(WriteFile(dir_ + pt::Sep() + "walk.dmd", kWalk));
  TakeLog();
  EXPECT_EQ(a.Run(ListComponents(kDmiListComponents, 0)), kDmiOk);
  EXPECT_EQ(TakeLog(), (std::vector<std::string>{"indication 2 1", "confirm"}));
  child("delete:1");
  EXPECT_EQ(libs_.indicate(a.handle()), kDmiOk);
  EXPECT_EQ(TakeLog(1), std::vector<std::string>{"indication 3 1"});
}

// Threads of this process, where the OS shows them (Linux); -1 elsewhere.
int Threads() {
  if (pt::ExeSuffix() == ".exe") return -1;  // under Wine /proc shows Wine's own
  std::error_code error;
  const std::filesystem::path tasks("/proc/self/task");
  if (!std::filesystem::is_directory(tasks, error)) return -1;
  const auto it = std::filesystem::directory_iterator(tasks, error);
  return static_cast<int>(std::distance(begin(it), end(it)));
}

TEST(ProviderChildProcess, LoadsQuietly) {
  const std::string store = platform::GetEnvironmentVariable("DMI_STORE");
  if (platform::GetEnvironmentVariable(kChildStoreVar).empty()) {
    GTEST_SKIP() << "only as the child of the loading test";
  }
  const int before = Threads();
  Libraries libs;
  ASSERT_TRUE(libs.invoke && libs.list_languages);
  EXPECT_EQ(libs.indicate(1), kDmiUnknownHandle);
  EXPECT_EQ(libs.invoke(ListComponents(kDmiListComponents, 0).Finish(1, 64)), kDmiUnknownHandle);
  EXPECT_EQ(Threads(), before);
  // The first registration starts the one serving thread, which stays for
  // the life of the process: a later registration starts none. (The first
  // thread may also bring a helper thread of a sanitizer's runtime.)
  int started = before;
  for (int round = 0; round < 2; ++round) {
    Client client(libs);
    ASSERT_EQ(client.Register(), kDmiOk);
    if (round == 0 && before >= 0) {
      EXPECT_GT(Threads(), before);
    }
    if (round == 1 && started >= 0) {
      EXPECT_EQ(Threads(), started);
    }
    started = Threads();
  }
  // Reading a store that is not there creates none.
  EXPECT_FALSE(std::filesystem::exists(store));
}

TEST_F(ProviderTest, LoadingStartsNoThreadAndCreatesNoFile) {
  testsupport::ScopedEnv env(kChildStoreVar, "1");
  auto process = pt::ChildProcess::Start(
      platform::ExecutableDirectory() + pt::Sep() + "unit_tests" + pt::ExeSuffix(),
      {"--gtest_filter=ProviderChildProcess.LoadsQuietly"});
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(process->Wait(), 0);
  EXPECT_FALSE(std::filesystem::exists(store_));
}

}  // namespace
}  // namespace dmi
