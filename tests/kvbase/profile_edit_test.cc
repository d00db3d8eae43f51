// A list of changes made at once gives the text that making them one by one
// gives, however they depend on each other, and keeps every other byte.
#include "kvbase/profile_edit.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kvbase {
namespace {

using C = ProfileChange;

std::string OneByOne(std::string text, const std::vector<C>& changes,
                     const std::string& line_end = "\n") {
  for (const C& c : changes) {
    if (auto next = ApplyProfileChanges(text, {c}, line_end)) text = *next;
  }
  return text;
}

TEST(ProfileEditTest, ChangesAtOnceEqualChangesOneByOne) {
  const std::string crlf =
      "; hand comment\r\n[A]\r\nk=1\r\nno equals\r\n\r\n[B]\r\nx=1\r\ny=2\r\n\r\n[C]\r\nz=1";
  const std::vector<C> changes = {
      C::SetKey("a", "K", "2"),        // the file's spelling stays
      C::SetKey("A", "new", "n"),      // after "no equals"
      C::SetKey("A", "new", "again"),  // the key the change before made
      C::DeleteKey("B", "x"),
      C::SetKey("B", "x2", "v"),  // after the section's last line
      C::DeleteSection("C"),      // holds the line without a line end
      C::AddSection("D", {{"d1", "1"}, {"d2", "2"}}),
      C::AddSection("E", {{"e", "1"}}),
      C::SetKey("E", "e2", "2"),  // into the section just added
      C::DeleteSection("D"),
      C::AddSection("D", {{"d3", "3"}}),             // again, after its removal
      C::AddSection("B", {{"y", "2"}, {"w", "3"}}),  // exists: its keys are set
      C::SetKey("New", "n", "1"),
  };
  const std::optional<std::string> at_once = ApplyProfileChanges(crlf, changes, "\n");
  ASSERT_TRUE(at_once);
  EXPECT_EQ(*at_once, OneByOne(crlf, changes));
  EXPECT_EQ(*at_once,
            "; hand comment\r\n[A]\r\nk=2\r\nno equals\r\nnew=again\r\n\r\n[B]\r\ny=2\r\nx2=v\r\n"
            "w=3\r\n\r\n[E]\r\ne=1\r\ne2=2\r\n\r\n[D]\r\nd3=3\r\n[New]\r\nn=1\r\n");

  // A last line without a line end gets the file's own one, twice over.
  const std::string lf = "[A]\nk=1";
  const std::vector<C> appends = {C::SetKey("A", "j", "2"), C::SetKey("A", "i", "3"),
                                  C::AddSection("X", {{"x", "1"}}),
                                  C::AddSection("Y", {{"y", "1"}})};
  EXPECT_EQ(ApplyProfileChanges(lf, appends, "\r\n"), OneByOne(lf, appends));
  EXPECT_EQ(OneByOne(lf, appends), "[A]\nk=1\nj=2\ni=3\n\n[X]\nx=1\n\n[Y]\ny=1\n");
  // An empty text takes the default line end; changes that change nothing
  // leave no result.
  EXPECT_EQ(ApplyProfileChanges("", {C::AddSection("S", {{"k", "v"}})}, "\r\n"), "[S]\r\nk=v\r\n");
  EXPECT_EQ(ApplyProfileChanges(crlf, {C::SetKey("A", "k", "1"), C::DeleteSection("none")}, "\n"),
            std::nullopt);
}

TEST(ProfileEditTest, RandomChangeListsAtOnceEqualOneByOne) {
  const char* const lines[] = {"[A]", "[B]", "[a]",   "k=1", " K = 2",
                               "j=3", "; c", "no eq", "",    " "};
  const char* const sections[] = {"A", "B", "C", "a"};
  const char* const keys[] = {"k", "j", "n"};
  std::mt19937 rng(7);
  const auto pick = [&](const auto& from) { return from[rng() % std::size(from)]; };
  for (int round = 0; round < 3000; ++round) {
    const std::string eol = rng() % 2 ? "\r\n" : "\n";
    std::string text;
    for (int n = static_cast<int>(rng() % 10); n > 0; --n) text += pick(lines) + eol;
    if (rng() % 3 == 0) text += pick(lines);
    std::vector<C> changes;
    for (int n = 1 + static_cast<int>(rng() % 6); n > 0; --n) {
      switch (rng() % 4) {
        case 0:
          changes.push_back(C::SetKey(pick(sections), pick(keys), std::to_string(rng() % 2)));
          break;
        case 1:
          changes.push_back(C::DeleteKey(pick(sections), pick(keys)));
          break;
        case 2:
          changes.push_back(C::DeleteSection(pick(sections)));
          break;
        default:
          changes.push_back(C::AddSection(pick(sections), {{pick(keys), "v"}, {pick(keys), "w"}}));
      }
    }
    // (A text that loses all its lines takes the default line end.)
    const std::string one_by_one = OneByOne(text, changes, eol);
    ASSERT_EQ(ApplyProfileChanges(text, changes, eol).value_or(text), one_by_one)
        << "round " << round << ", text:\n"
        << text;
  }
}

}  // namespace
}  // namespace kvbase
