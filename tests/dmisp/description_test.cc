// Component description files: refusals with their line, the agent's own
// tables against every command line the scheduler sends, and a unicode
// component.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dmi/dmi_interface.h"
#include "dmisp/store_values.h"
#include "dmisp/table_store.h"
#include "platform/code_page.h"
#include "platform/testing.h"
#include "support/source_path.h"

namespace dmisp {
namespace {

namespace pt = ::platform::testing;

Component Parsed(const std::string& text) {
  Component c;
  std::string error;
  EXPECT_TRUE(ParseDescription(text, &c, &error)) << error;
  return c;
}

TEST(DescriptionTest, RefusesWithTheLineAndInstallsNothing) {
  const std::string head = "component \"C\"\nlanguage \"en|US|iso8859-1\"\n";
  const std::string group = head + "group 1 name \"G\" class \"X|G|001\" key 1\n";
  const std::string keyed = group + "attribute 1 name \"K\" type 5\n";
  const struct {
    std::string text;
    std::string error;
  } cases[] = {
      {"", "line 1: no component statement"},
      {"language \"x\"\ngroup 1 name \"G\" class \"X\"\nattribute 1 name \"a\" type 5\n",
       "line 4: no component statement"},
      {head, "line 3: no group"},
      {head + "component \"D\"\n", "line 3: second component statement"},
      {head + "frobnicate\n", "line 3: unknown statement \"frobnicate\""},
      {head + "group 0 name \"G\" class \"X\"\n", "line 3: group id must be a number from 1"},
      {head + "group 70000 name \"G\" class \"X\"\n", "line 3: group id must be a number"},
      {group + "attribute 1 name \"K\" type 4\n", "line 4: type must be 1, 2, 3, 5, 6, 7, 8 or 11"},
      {group + "attribute 1 name \"K\" type 9\n", "line 4: type must be"},
      {group + "attribute 1 name \"K\" type 8\n", "line 4: attribute of type 8 needs a size"},
      {keyed + "attribute 2 name \"T\" type 8 size 0\n",
       "line 5: attribute of type 8 needs a size from 1 to 4091"},
      {keyed + "attribute 2 name \"O\" type 7 size +0 value \"\"\n",
       "line 5: attribute of type 7 needs a size"},
      {keyed + "attribute 2 name \"N\" type 5 value +-5\n", "line 5: value +-5 does not fit"},
      {group + "attribute 1 name \"K\" type 5 size 2\n", "line 4: the size of type 5 is 4"},
      {group + "attribute 2 name \"K\" type 5\n", "line 3: key attribute 1 is not in the group"},
      {group + "attribute 1 name \"K\" type 7 size 4\n", "line 3: key attribute 1 must be of type"},
      {keyed + "attribute 1 name \"L\" type 5\n", "line 5: duplicate attribute id 1"},
      {keyed + "group 1 name \"H\" class \"Y\"\nattribute 1 name \"a\" type 5\n",
       "line 5: duplicate group id 1"},
      {keyed + "attribute 2 name \"T\" type 8 size 3 value \"four\"\n",
       "line 5: value \"four\" is longer than the size of attribute 2"},
      {keyed + "attribute 2 name \"T\" type 8 size 3 value 12\n", "line 5: value 12 does not fit"},
      {keyed + "attribute 2 name \"N\" type 5 value 2147483648\n", "line 5: value 2147483648"},
      {keyed + "attribute 2 name \"N\" type 1 value -1\n", "line 5: value -1 does not fit"},
      {keyed + "attribute 2 name \"D\" type 11 value \"19800101000000.000000+0000\"\n",
       "line 5: value \"19800101000000.000000+0000\" is longer"},
      {keyed + "attribute 2 name \"T\" type 8 size 9 value \"a\\q\"\n",
       "line 5: unknown escape \\q"},
      {keyed + "attribute 2 name \"T\" type 8 size 9 value \"open\n", "line 5: text without its"},
      {keyed + "row 1=1\nrow 1=2\nrow 1=1\n",
       "line 7: row with the same keys as the row of line 5"},
      {keyed + "row 1=1 2=5\n", "line 5: no attribute 2 in group 1"},
      {keyed + "row 1=1 1=2\n", "line 5: attribute 1 named twice"},
      {keyed + "row 1\n", "line 5: expected = after attribute 1"},
      {keyed + "enum 1 \"x\"\nenum 1 \"y\"\n", "line 6: enum value 1 named twice"},
      {head + "group 1 name \"G\" class \"X\"\nattribute 1 name \"a\" type 5\nrow 1=1\nrow 1=2\n",
       "line 6: second row of a group without keys"},
      {head + "attribute 1 name \"a\" type 5\n", "line 3: attribute outside a group"},
  };
  for (const auto& c : cases) {
    Component component;
    component.name = "untouched";
    std::string error;
    EXPECT_FALSE(ParseDescription(c.text, &component, &error)) << c.text;
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << c.text;
    EXPECT_EQ(component.name, "untouched");
  }
  // What the format can say: escapes, signs, enumerations, the row of an
  // unkeyed group made from initial values.
  const Component ok =
      Parsed(head +
             "# comment\n\ngroup 2 name \"G\" class \"X|G|001\"\n"
             "attribute 3 name \"T\" type 8 size 12 value \" \\\"q\\\" \\x41\\0\\\\ \"\n"
             "attribute 1 name \"N\" type 5 value -5\nenum -5 \"minus five\"\n"
             "attribute 2 name \"O\" type 7 size 2 value \"\\xff\\x00\"\n");
  ASSERT_EQ(ok.groups.size(), 1u);
  const Group& g = ok.groups[0];
  ASSERT_EQ(g.rows.size(), 1u);
  EXPECT_EQ(g.rows[0].values.at(3), std::string(" \"q\" A\0\\ ", 9));
  EXPECT_EQ(g.rows[0].values.at(1), Int32Value(-5));
  EXPECT_EQ(g.rows[0].values.at(2), std::string("\xff\0", 2));
  EXPECT_EQ(g.attributes[0].enumeration.at(-5), "minus five");
}

TEST(DescriptionTest, UnicodeComponentKeepsDisplayStringsAsUtf16) {
  const Component c =
      Parsed(pt::FileContents(testsupport::SourcePath("tests/dmisp/unicode-component.dmd")));
  ASSERT_TRUE(IsUnicodeLanguage(c.language));
  ASSERT_EQ(c.groups.size(), 2u);
  const Attribute& maker = c.groups[0].attributes[0];
  EXPECT_EQ(maker.size, 32u);
  EXPECT_EQ(maker.initial, std::string("C\0a\0f\0\xE9\0", 8));
  // Rows in key order, whatever order the file gives them.
  const Group& labels = c.groups[1];
  ASSERT_EQ(labels.rows.size(), 2u);
  size_t row = 9;
  EXPECT_EQ(FindRow(labels, {{1, dmi::kDmiDisplayString, platform::AnsiToUtf16Le("b")}}, &row),
            dmi::kDmiOk);
  EXPECT_EQ(row, 1u);
  EXPECT_EQ(FindRow(labels, {{1, dmi::kDmiInteger, Int32Value(1)}}, &row), dmi::kDmiIllegalType);
  EXPECT_EQ(FindRow(labels, {{2, dmi::kDmiCounter, Int32Value(1)}}, &row),
            dmi::kDmiAttributeNotFound);
  EXPECT_EQ(FindRow(labels, {{1, dmi::kDmiDisplayString, "b"}}, &row), dmi::kDmiRowNotFound);
  // Only key attributes name a row, even one whose value would match.
  const Value count = labels.rows[1].values.at(2);
  EXPECT_EQ(FindRow(labels, {{2, dmi::kDmiInteger, count}}, &row), dmi::kDmiAttributeNotFound);
  EXPECT_EQ(FindRow(c.groups[0], {{1, dmi::kDmiDisplayString, maker.initial}}, &row),
            dmi::kDmiAttributeNotFound);
  EXPECT_EQ(FindRow(c.groups[0], {}, &row), dmi::kDmiOk);
  // An integer key names a counter or gauge key attribute (a store may hold
  // one); a text key does not.
  Group counted = labels;
  counted.keyIds = {2};
  EXPECT_EQ(FindRow(counted, {{2, dmi::kDmiInteger, count}}, &row), dmi::kDmiOk);
  EXPECT_EQ(row, 1u);
  EXPECT_EQ(FindRow(counted, {{2, dmi::kDmiDisplayString, count}}, &row), dmi::kDmiIllegalType);
}

TEST(DescriptionTest, ValuesAreHeldToTheirAttribute) {
  const Attribute empty{1, "t", dmi::kDmiDisplayString, 0, "", {}};
  const Attribute number{2, "n", dmi::kDmiInteger64, 8, Int64Value(0), {}};
  const Attribute date{3, "d", dmi::kDmiDate, 25, "", {}};
  EXPECT_EQ(CheckValue(empty, dmi::kDmiDisplayString, ""), dmi::kDmiOk);
  EXPECT_EQ(CheckValue(empty, dmi::kDmiDisplayString, "a"), dmi::kDmiValueTooLong);
  EXPECT_EQ(CheckValue(number, dmi::kDmiInteger64, Int32Value(1)), dmi::kDmiMalformedBlock);
  EXPECT_EQ(CheckValue(date, dmi::kDmiDate, std::string("1\0", 2)), dmi::kDmiMalformedBlock);
}

}  // namespace
}  // namespace dmisp
