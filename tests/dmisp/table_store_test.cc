// The table store: exact round trips of every kind of value through the
// file, the generation, the store's location, concurrent writers in several
// processes, and writers killed mid-update.
#include "dmisp/table_store.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmisp/store_format.h"
#include "dmisp/store_values.h"
#include "platform/process_info.h"
#include "platform/testing.h"
#include "support/fake_env.h"
#include "support/scoped_globals.h"
#include "tests/kvbase/profile_test_util.h"

namespace dmisp {
namespace {

namespace pt = ::platform::testing;
using kvbase_test::ScratchDir;

constexpr char kChildStoreVar[] = "SCHEDEXE_DMI_CHILD_STORE";
constexpr char kChildRowVar[] = "SCHEDEXE_DMI_CHILD_ROW";
constexpr int kSetsPerChild = 200;

// One component with a keyed counter group: row r counts the sets of
// writer r; row 0 counts every set, and its attribute 3 must always equal
// attribute 2 (both change in one update), so a torn file would show.
Component CounterComponent(int rows) {
  Component c;
  c.id = 1;
  c.name = "Counters";
  c.language = "en|US|iso8859-1";
  Group g;
  g.id = 1;
  g.name = "Counts";
  g.classString = "TEST|Counts|001";
  g.keyIds = {1};
  for (uint32_t id = 1; id <= 3; ++id) {
    g.attributes.push_back({id, "A", dmi::kDmiInteger, 4, Int32Value(0), {}});
  }
  g.attributes.push_back({4, "Filler", dmi::kDmiDisplayString, 4000, std::string(3000, 'f'), {}});
  for (int r = 0; r <= rows; ++r) {
    Row row;
    for (const Attribute& a : g.attributes) row.values[a.id] = a.initial;
    row.values[1] = Int32Value(r);
    g.rows.push_back(row);
  }
  c.groups.push_back(g);
  return c;
}

uint32_t Bump(Tables& t, int row) {
  Group& g = t.components.at(0).groups.at(0);
  for (const int r : {0, row}) {
    auto& values = g.rows.at(static_cast<size_t>(r)).values;
    values[2] = Int32Value(static_cast<int32_t>(NumberOf(values[2]) + 1));
    values[3] = values[2];
  }
  return dmi::kDmiOk;
}

int64_t Count(const Tables& t, int row, uint32_t attribute = 2) {
  return NumberOf(
      t.components.at(0).groups.at(0).rows.at(static_cast<size_t>(row)).values.at(attribute));
}

// The bodies of the child processes: this test binary started again with a
// filter that selects one of these. In an ordinary run they do nothing.
TEST(DmiStoreChildProcess, Sets) {
  const std::string store = platform::GetEnvironmentVariable(kChildStoreVar);
  const std::string row = platform::GetEnvironmentVariable(kChildRowVar);
  if (store.empty() || row.empty()) GTEST_SKIP() << "only as the child of a store test";
  const int r = std::stoi(row);
  for (int i = 0; r > 0 ? i < kSetsPerChild : true; ++i) {
    std::string error;
    ASSERT_EQ(UpdateStore(
                  store, [&](Tables& t) { return Bump(t, r > 0 ? r : 1); }, &error),
              dmi::kDmiOk)
        << error;
  }
}

class TableStoreTest : public ::testing::Test {
 protected:
  TableStoreTest() : scratch_("dmistore"), store_(scratch_.Path("dmi-store.dat")) {}

  // UpdateStore on the test's store; error_ tells why it failed.
  uint32_t Update(const std::function<uint32_t(Tables&)>& change,
                  const std::function<bool()>& may_write = nullptr) {
    return UpdateStore(store_, change, &error_, may_write);
  }

  void Install(const Component& c) {
    ASSERT_EQ(Update([&](Tables& t) {
                t.components.push_back(c);
                ++t.generation;
                return uint32_t{dmi::kDmiOk};
              }),
              dmi::kDmiOk)
        << error_;
  }

  // The tables as the file holds them, parsed afresh (not from the cache).
  Tables FromFile() {
    Tables t;
    std::string error;
    EXPECT_TRUE(ParseStore(pt::FileContents(store_), &t, &error)) << error;
    return t;
  }

  std::unique_ptr<pt::ChildProcess> StartChild(int row) {
    testsupport::ScopedEnv store(kChildStoreVar, store_.c_str());
    testsupport::ScopedEnv r(kChildRowVar, std::to_string(row).c_str());
    return pt::ChildProcess::Start(
        platform::ExecutableDirectory() + pt::Sep() + "unit_tests" + pt::ExeSuffix(),
        {"--gtest_filter=DmiStoreChildProcess.Sets"});
  }

  ScratchDir scratch_;
  std::string store_;
  std::string error_;
};

TEST_F(TableStoreTest, EveryValueReadsBackExactly) {
  const std::string odd[] = {"  blanks at both ends  ",
                             "\"quoted\"",
                             "'single'",
                             "line\r\nbreak",
                             std::string("nul\0inside", 10),
                             "high \xE9\xFF\x80 bytes",
                             "%41 =;[x]",
                             "",
                             " "};
  Component c = CounterComponent(1);
  c.name = odd[0];
  c.groups[0].classString = odd[1] + "|" + odd[4];
  Group g;
  g.id = 9;
  g.name = odd[3];
  g.classString = "TEST|Odd|001";
  g.attributes = {{1, odd[5], dmi::kDmiCounter, 4, Int32Value(-1), {{-7, odd[4]}, {3, odd[0]}}},
                  {2, "c64", dmi::kDmiCounter64, 8, Int64Value(-1), {}},
                  {3, "g", dmi::kDmiGauge, 4, Int32Value(7), {}},
                  {5, "i", dmi::kDmiInteger, 4, Int32Value(INT32_MIN), {}},
                  {6, "i64", dmi::kDmiInteger64, 8, Int64Value(INT64_MIN), {}},
                  {7, "octets", dmi::kDmiOctetString, 64, std::string("\0\x01\xFF", 3), {}},
                  {8, "text", dmi::kDmiDisplayString, 64, odd[2], {}},
                  {11, "date", dmi::kDmiDate, 25, "19991231235959.000000+060", {}},
                  {12, "faulty", dmi::kDmiInteger, 4, "abc", {}}};
  for (const std::string& text : odd) {
    Row row;
    for (const Attribute& a : g.attributes) row.values[a.id] = a.initial;
    row.values[7] = row.values[8] = text;
    g.rows.push_back(row);
  }
  c.groups.push_back(g);
  Install(c);

  Tables expected;
  expected.generation = 1;
  expected.components = {c};
  EXPECT_EQ(FromFile(), expected);
  // A person can read it: sections and plain values where they are plain.
  const std::string text = pt::FileContents(store_);
  for (const char* part : {"[Component 1 Group 9 Row 3]", "Generation=1", "A5=-2147483648",
                           "Class=TEST|Odd|001", "Initial=0001FF", "A8=line%0D%0Abreak"}) {
    EXPECT_NE(text.find(part), std::string::npos) << part;
  }
}

// Hand edits read as the profile functions read them: of two keys naming one
// attribute (A5, A005) the later counts, of two sections of one name the first.
TEST(StoreText, RepeatedKeysAndSectionsOfAHandEdit) {
  const std::string text =
      "[Store]\nGeneration=1\n[Component 1]\nName=C\n"
      "[Component 1 Group 1]\nName=G\nClass=T|G|001\nKeys=\n"
      "[Component 1 Group 1 Attribute 5]\nName=n\nType=" +
      std::to_string(dmi::kDmiInteger) +
      "\nSize=4\nInitial=0\n"
      "[Component 1 Group 1 Row 1]\na05=9\nA5=7\nA005=-4\n"
      "[component 1 group 1 row 1]\nA5=1\n";
  Tables t;
  std::string error;
  ASSERT_TRUE(ParseStore(text, &t, &error)) << error;
  const Row& row = t.components.at(0).groups.at(0).rows.at(0);
  EXPECT_EQ(row.values.size(), 1u);
  EXPECT_EQ(NumberOf(row.values.at(5)), -4);
}

TEST_F(TableStoreTest, GenerationRefusalsAndFailures) {
  Tables t;
  ASSERT_TRUE(ReadStore(store_, &t, &error_)) << error_;  // missing: empty tables
  EXPECT_EQ(t, Tables());
  Component second = CounterComponent(2);
  second.id = 4095;
  Install(CounterComponent(2));
  Install(second);
  EXPECT_EQ(FromFile().generation, 2u);
  EXPECT_EQ(FromFile().components.at(1), second);

  // A change that fails leaves the file as it was.
  const std::string before = pt::FileContents(store_);
  EXPECT_EQ(Update([](Tables& tables) {
              tables.components.clear();
              return uint32_t{dmi::kDmiRowNotFound};
            }),
            dmi::kDmiRowNotFound);
  EXPECT_EQ(pt::FileContents(store_), before);

  // A store that is not one is refused, and not overwritten.
  kvbase_test::WriteBytes(store_, "[Store]\nGeneration=1\n\n[Component 1 Group x]\n");
  EXPECT_FALSE(ReadStore(store_, &t, &error_));
  EXPECT_NE(error_.find("line 4 [Component 1 Group x]"), std::string::npos) << error_;
  EXPECT_EQ(Update([](Tables&) { return uint32_t{dmi::kDmiOk}; }), dmi::kDmiStoreFailed);
  EXPECT_FALSE(ReadStore(scratch_.Path("no-folder") + pt::Sep() + "s.dat", &t, &error_) &&
               UpdateStore(
                   scratch_.Path("no-folder") + pt::Sep() + "s.dat",
                   [](Tables&) { return uint32_t{dmi::kDmiOk}; }, &error_) == dmi::kDmiOk);
}

// `text` with every line ending in `line_end`.
std::string WithLineEnds(const std::string& text, const std::string& line_end) {
  return std::regex_replace(text, std::regex("\r?\n"), line_end);
}

// `text` with `what` put in after the first `after`.
std::string Inserted(std::string text, const std::string& after, const std::string& what) {
  const size_t at = text.find(after);
  EXPECT_NE(at, std::string::npos) << after;
  return text.insert(at + after.size(), what);
}

TEST_F(TableStoreTest, ASetRewritesOnlyItsLineAndKeepsTheLineEnds) {
  Install(CounterComponent(2));
  const std::string written = pt::FileContents(store_);
  for (const std::string eol : {"\r\n", "\n"}) {
    // What a person added: a comment, a line without '=', blank lines and a
    // key the tables do not know, in sections the provider owns.
    std::string hand = WithLineEnds(written, eol);
    hand = Inserted(hand, "[Store]" + eol, "; kept by hand" + eol + "just words" + eol + eol);
    hand = Inserted(hand, "[Component 1]" + eol, "Note=x" + eol);
    hand = Inserted(hand, "[Component 1 Group 1 Row 2]" + eol, eol + "  ; about row 2" + eol);
    // A key repeated by hand counts where it first stands, as the edit
    // finds it.
    hand.insert(hand.find("[Component 1 Group 1 Row 2]"), "A2=7" + eol);
    kvbase_test::WriteBytes(store_, hand);
    ASSERT_EQ(Update([](Tables& t) { return Bump(t, 1); }), dmi::kDmiOk) << error_;
    // Row 1 and row 2 (both numbered from 0 in Bump) count the set.
    std::string expected = hand;
    for (const char* row : {"Row 1]", "Row 2]"}) {
      for (const char* a : {"A2=0", "A3=0"}) {
        const size_t at = expected.find(a, expected.find(row));
        ASSERT_NE(at, std::string::npos);
        expected[at + 3] = '1';
      }
    }
    EXPECT_EQ(pt::FileContents(store_), expected) << "line end " << (eol == "\n" ? "LF" : "CRLF");
    Tables t;
    ASSERT_TRUE(ReadStore(store_, &t, &error_)) << error_;
    EXPECT_EQ(Count(t, 0), 1);
    EXPECT_EQ(Count(t, 1), 1);
    EXPECT_EQ(t, FromFile());
    kvbase_test::WriteBytes(store_, written);
  }
}

TEST_F(TableStoreTest, AddedAndDeletedComponentsReadAsAWholeRewrite) {
  Install(CounterComponent(1));
  const std::string comment = "; kept by hand\n";
  std::string hand = WithLineEnds(pt::FileContents(store_), "\n");
  hand.insert(hand.find("[Component 1]"), comment);
  kvbase_test::WriteBytes(store_, hand);
  // The file, parsed afresh, holds what the change left in the tables, as a
  // store written whole would, and the hand comment stays.
  const auto check = [&](const char* what, const std::function<void(Tables&)>& change) {
    Tables after;
    ASSERT_EQ(Update([&](Tables& t) {
                change(t);
                after = t;
                return uint32_t{dmi::kDmiOk};
              }),
              dmi::kDmiOk)
        << what << ": " << error_;
    Tables whole;
    ASSERT_TRUE(ParseStore(FormatStore(after, "\n"), &whole, &error_)) << error_;
    EXPECT_EQ(FromFile(), whole) << what;
    const std::string text = pt::FileContents(store_);
    EXPECT_EQ(text.find('\r'), std::string::npos) << what;
    EXPECT_NE(text.find(comment), std::string::npos) << what;
  };
  Component big = CounterComponent(40);
  big.id = 7;
  big.groups.push_back(big.groups[0]);
  big.groups[1].id = 2;
  big.groups[1].attributes[0].enumeration = {{1, "one"}, {2, "two"}};
  check("add", [&](Tables& t) {
    t.components.push_back(big);
    ++t.generation;
  });
  EXPECT_EQ(pt::FileContents(store_).rfind(hand.substr(0, hand.find("Generation=")), 0), 0u);
  check("delete rows and an enumeration", [](Tables& t) {
    Group& g = t.components.at(1).groups.at(1);
    g.rows.erase(g.rows.begin(), g.rows.begin() + 3);
    g.attributes[0].enumeration.erase(1);
    g.attributes[0].name = "renamed";
  });
  check("groups and attributes", [](Tables& t) {
    Component& c = t.components.at(1);
    c.groups.erase(c.groups.begin());
    Group& g = c.groups.at(0);
    g.attributes[1].type = dmi::kDmiCounter64;  // every row's A2 reads otherwise
    g.attributes.erase(g.attributes.begin() + 2);
    g.attributes.push_back({9, "new", dmi::kDmiDisplayString, 10, "n", {}});
    c.groups.push_back(g);
    c.groups.back().id = 5;
  });
  check("delete the first", [](Tables& t) {
    t.components.erase(t.components.begin());
    ++t.generation;
  });
  check("add it back", [](Tables& t) {
    t.components.insert(t.components.begin(), CounterComponent(3));
    ++t.generation;
  });
}

TEST_F(TableStoreTest, MayWriteRefusalWritesNothing) {
  Install(CounterComponent(1));
  const std::string before = pt::FileContents(store_);
  std::vector<std::string> calls;
  EXPECT_EQ(Update(
                [&](Tables& t) {
                  calls.emplace_back("change");
                  return Bump(t, 1);
                },
                [&] {
                  calls.emplace_back("may write");
                  return false;
                }),
            dmi::kDmiCancelled);
  EXPECT_EQ(pt::FileContents(store_), before);
  EXPECT_EQ(calls, (std::vector<std::string>{"change", "may write"}));
}

TEST_F(TableStoreTest, StorePathFromEnvironmentOrAgentDirectory) {
  testsupport::FakeEnv env;
  testsupport::ScopedEnv unset("DMI_STORE", nullptr);
  EXPECT_EQ(StorePath(), "");
  env.SetValue("SOFTWARE\\Corvane\\Teltrix", "TTX Path", "C:\\Agent");
  EXPECT_EQ(StorePath(), "C:\\Agent\\KVClient\\dmi-store.dat");
  testsupport::ScopedEnv set("DMI_STORE", store_.c_str());
  EXPECT_EQ(StorePath(), store_);
}

TEST_F(TableStoreTest, ConcurrentWritersInSeveralProcessesLoseNoSet) {
  constexpr int kWriters = 6;
  Install(CounterComponent(kWriters));
  Tables cached;
  ASSERT_TRUE(ReadStore(store_, &cached, &error_)) << error_;  // a version in this process's cache
  std::vector<std::unique_ptr<pt::ChildProcess>> writers;
  for (int r = 1; r <= kWriters; ++r) {
    writers.push_back(StartChild(r));
    ASSERT_NE(writers.back(), nullptr);
  }
  for (auto& w : writers) EXPECT_EQ(w->Wait(), 0);
  Tables t;
  ASSERT_TRUE(ReadStore(store_, &t, &error_)) << error_;
  EXPECT_EQ(Count(t, 0), kWriters * kSetsPerChild);
  for (int r = 1; r <= kWriters; ++r) EXPECT_EQ(Count(t, r), kSetsPerChild) << "writer " << r;
  EXPECT_EQ(FromFile(), t);
}

TEST_F(TableStoreTest, KilledWriterLeavesOldOrNewStoreAndReadersNeverSeeATornOne) {
  Install(CounterComponent(1));
  std::mt19937 rng(11);
  const int kills = pt::ExeSuffix() == ".exe" ? 6 : 20;
  int64_t last = 0;
  for (int k = 0; k < kills; ++k) {
    auto child = StartChild(0);  // sets until it is killed
    ASSERT_NE(child, nullptr);
    // Read while it writes: every read is one whole version, never older
    // than the one before. Every other writer is first seen writing (a
    // process start under Wine takes a while), so kills land among writes.
    const int64_t before = last;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    auto until = std::chrono::steady_clock::now() +
                 std::chrono::milliseconds(20 + static_cast<int>(rng() % 150));
    for (bool seen = k % 2 != 0; !seen || std::chrono::steady_clock::now() < until;) {
      Tables t;
      std::string error;
      ASSERT_TRUE(ReadStore(store_, &t, &error)) << "kill " << k << ": " << error;
      EXPECT_EQ(Count(t, 0, 2), Count(t, 0, 3));
      EXPECT_GE(Count(t, 0), last);
      last = Count(t, 0);
      if (!seen && (last > before || std::chrono::steady_clock::now() > give_up)) {
        seen = true;
        until = std::chrono::steady_clock::now() +
                std::chrono::milliseconds(static_cast<int>(rng() % 100));
      }
    }
    if (k % 2 == 0) {
      EXPECT_GT(last, before) << "kill " << k << ": the writer never wrote";
    }
    child->Kill();
    child->Wait();
    const Tables after = FromFile();
    EXPECT_EQ(Count(after, 0, 2), Count(after, 0, 3));
    EXPECT_GE(Count(after, 0), last);
    last = Count(after, 0);
  }
  // The next update clears what killed writers left, and loses nothing.
  ASSERT_EQ(Update([](Tables& t) { return Bump(t, 1); }), dmi::kDmiOk) << error_;
  EXPECT_EQ(Count(FromFile(), 0), last + 1);
}

}  // namespace
}  // namespace dmisp
