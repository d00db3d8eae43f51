// Values between text and the management interface: key lists, the
// conversion of a value text for every type, and display texts read back.
#include "dmi/dmi_values.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "dmi/dmi_interface.h"
#include "platform/code_page.h"

namespace dmi {
namespace {

using std::string_literals::operator""s;

template <typename T>
std::string Raw(T value) {
  std::string bytes(sizeof value, '\0');
  std::memcpy(bytes.data(), &value, sizeof value);
  return bytes;
}
std::string Counted(const std::string& bytes) {
  return Raw(static_cast<uint32_t>(bytes.size())) + bytes;
}

// "1=3" for an integer key, "1:'x y'" for a display string.
std::string Show(const std::vector<DmiKeyValue>& keys) {
  std::string shown;
  for (const DmiKeyValue& k : keys) {
    shown += (shown.empty() ? "" : " ") + std::to_string(k.attribute_id) +
             (k.type == kDmiInteger ? "=" + std::to_string(k.number) : ":'" + k.text + "'");
  }
  return shown;
}

TEST(DmiValuesTest, KeyLists) {
  const struct {
    const char* text;
    const char* keys;
  } cases[] = {
      {"A1|3", "1=3"},
      {"A1|3|A2|7", "1=3 2=7"},
      {"A0|5", ""},
      {"B1|3", ""},
      {"A1|x y", "1:'x y'"},
      {"A1|0", "1=0"},
      {"", ""},
      {"A1|", "1:''"},
      {"A1", "1:''"},
      {"A", ""},
      {"A1|-0", "1:'-0'"},
      {"A1| 0", "1:' 0'"},
      {"A1|-5|", "1=-5"},
      {"A1|3xA2|007", "1=3 2=7"},
      {"A1|5|A0|6|A3|7", "1=5"},
      {"A1|2|A2|x|A3|4", "1=2 2:'x|A3|4'"},
      {"A1|2|B2|3", "1=2"},
      {"A12#99999999999", "12=2147483647"},
  };
  for (const auto& c : cases) EXPECT_EQ(Show(ParseKeyList(c.text)), c.keys) << c.text;
  EXPECT_TRUE(ParseKeyList(nullptr).empty());

  std::string many;
  for (int i = 1; i <= 300; ++i) many += "A" + std::to_string(i) + "|" + std::to_string(i) + "|";
  const auto keys = ParseKeyList(many.c_str());
  ASSERT_EQ(keys.size(), kDmiMaxKeys);
  EXPECT_EQ(keys.back().number, 256);
  const std::string long_text = "A1|" + std::string(4092, 'x');
  EXPECT_EQ(ParseKeyList(long_text.c_str()).at(0).text, std::string(4091, 'x'));

  EXPECT_EQ(EncodeDmiKeyValue({1, kDmiInteger, -2, ""}, true), Raw<int32_t>(-2));
  EXPECT_EQ(EncodeDmiKeyValue({1, kDmiDisplayString, 0, "ab"}, false), Counted("ab"));
  EXPECT_EQ(EncodeDmiKeyValue({1, kDmiDisplayString, 0, "ab"}, true), Counted("a\0b\0"s));
}

TEST(DmiValuesTest, ValueTextsByType) {
  const std::string hex_too_long = std::string(8182, 'F') + "1234";
  const std::string text_too_long = std::string(4091, 'x') + "y";
  const std::string date_too_long = std::string(1100, '7');
  const struct {
    int type;
    std::string text;
    std::string encoded;
  } cases[] = {
      {1, "0x1F", Raw<int32_t>(31)},
      {3, "017", Raw<int32_t>(15)},
      {5, " -12abc", Raw<int32_t>(-12)},
      {5, "4294967295", Raw<int32_t>(INT32_MAX)},
      {5, "-99999999999", Raw<int32_t>(INT32_MIN)},
      {1, "x", Raw<int32_t>(0)},
      {6, "9223372036854775807", Raw(INT64_MAX)},
      {6, "-9223372036854775808", Raw(INT64_MIN)},
      {2, "18446744073709551615", Raw<int64_t>(-1)},
      {6, "9223372036854775808", Raw(INT64_MIN)},  // wraps
      {2, "18446744073709551617", Raw<int64_t>(1)},
      {6, "\t +12x", Raw<int64_t>(12)},
      {6, "0x10", Raw<int64_t>(0)},
      {7, "1F", Counted("\x1F")},
      {7, "ABC", Counted("\xAB")},  // the odd digit has no pair
      {7, "", Counted("")},
      {7, "0aG1zz", Counted("\x2A\x01\x73")},  // code minus 55, cut to 8 bits
      {7, hex_too_long, Counted(std::string(4091, '\xFF'))},
      {8, "x y", Counted("x y")},
      {8, text_too_long, Counted(std::string(4091, 'x'))},
      {11, "19991231235959.000000+060", "19991231235959.000000+060\0"s},
      {11, date_too_long, std::string(1023, '7') + '\0'},
  };
  for (const auto& c : cases) {
    std::string encoded = "old";
    EXPECT_TRUE(ConvertDmiValue(c.type, c.text.c_str(), false, &encoded)) << c.type;
    EXPECT_EQ(encoded, c.encoded) << c.type << " " << c.text.substr(0, 40);
  }
  // Unicode components take display strings in UTF-16, converted from the
  // ANSI code page; numbers, octets and dates travel as they are.
  std::string encoded;
  ASSERT_TRUE(ConvertDmiValue(8, "A\xE9", true, &encoded));
  EXPECT_EQ(encoded, Counted("A\0\xE9\0"s));
  ASSERT_TRUE(ConvertDmiValue(11, "1999", true, &encoded));
  EXPECT_EQ(encoded, "1999\0"s);
  for (const int type : {-1, 0, 4, 9, 10, 12, 255}) {
    encoded = "old";
    EXPECT_FALSE(ConvertDmiValue(type, "1", false, &encoded)) << type;
    EXPECT_EQ(encoded, "old");
  }
}

// The display text of `value`, written over "unchanged" in a buffer of `size`.
std::string ToText(int type, const std::string& value, size_t size = 64, bool unicode = false) {
  char buffer[64] = "unchanged";
  DmiValueToText(type, value.data(), value.size(), buffer, size, unicode);
  return buffer;
}

TEST(DmiValuesTest, DisplayTextsByType) {
  EXPECT_EQ(ToText(255, ""), "Unable to access");
  EXPECT_EQ(ToText(255, "", 7), "Unable");
  for (const int type : {4, 9, 10, 12, 254, 256, 1000, -1}) {
    EXPECT_EQ(ToText(type, Raw<int64_t>(1)), "unchanged") << type;
  }
  EXPECT_EQ(ToText(0, Raw<int32_t>(-5)), "-5");
  EXPECT_EQ(ToText(5, Raw(INT32_MIN)), "-2147483648");
  EXPECT_EQ(ToText(1, Raw<int32_t>(-1)), "4294967295");
  EXPECT_EQ(ToText(3, Raw<int32_t>(7)), "7");
  EXPECT_EQ(ToText(2, Raw<int64_t>(-1)), "18446744073709551615");
  EXPECT_EQ(ToText(6, Raw(INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(ToText(6, Raw(uint32_t{2}) + Raw(uint32_t{1})), "4294967298");  // low, high
  EXPECT_EQ(ToText(7, Counted("\x01\xAB\xFF")), "01ABFF");
  EXPECT_EQ(ToText(7, Counted("\x01\xAB\xFF"), 6), "01AB");  // whole octets only
  EXPECT_EQ(ToText(8, Counted("abc"), 3), "ab");
  EXPECT_EQ(ToText(8, Raw(uint32_t{9}) + "ab"), "ab");  // no more than it has
  EXPECT_EQ(ToText(8, Counted("A\0\xE9\0\x00\x01\x41"s), 64, true), "A\xE9?");
  // Too short for the type, or no room at all: nothing is written.
  EXPECT_EQ(ToText(5, "\1\2\3"), "unchanged");
  EXPECT_EQ(ToText(6, Raw<int32_t>(1)), "unchanged");
  EXPECT_EQ(ToText(8, "ab"), "unchanged");
  EXPECT_EQ(ToText(5, Raw<int32_t>(1), 0), "unchanged");
}

TEST(DmiValuesTest, DatesAreRepaired) {
  const struct {
    std::string date;
    const char* shown;
  } cases[] = {
      {"19991231235959.123456-060", "19991231235959.123456-060"},
      {"", "19800101000000.000000+000"},
      {"2024", "20240101000000.000000+000"},
      {"20241", "20241101000000.000000+000"},  // completed from its own length on
      {"197912312359", "19801231235900.000000+000"},
      {"20990032", "20990101000000.000000+000"},
      {"21000230246060x1234567890", "19800230000000.123456+890"},
      {"ab991300320759#a1b2c3*x9z", "19800101000759.010203+090"},
      {"20240615120000.000000-300EXTRA", "20240615120000.000000-300"},
  };
  for (const auto& c : cases) EXPECT_EQ(ToText(11, c.date + '\0'), c.shown) << c.date;
  EXPECT_EQ(ToText(11, "2024"), "20240101000000.000000+000") << "no NUL in the value";
  EXPECT_EQ(ToText(11, "20240615", 9), "20240615");
}

}  // namespace
}  // namespace dmi
