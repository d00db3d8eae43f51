#include "platform/code_page.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(CodePageTest, Windows1252BothWays) {
  if (AnsiCodePage() != 1252) GTEST_SKIP() << "ANSI code page " << AnsiCodePage();
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string wide = AnsiToUtf16(all);
  ASSERT_EQ(wide.size(), 255u);
  EXPECT_EQ(wide[0x80 - 1], u'\u20AC');
  EXPECT_EQ(wide[0x81 - 1], u'\u0081');  // unassigned: the control of that number
  EXPECT_EQ(wide[0x9F - 1], u'\u0178');
  EXPECT_EQ(wide[0xE9 - 1], u'\u00E9');
  EXPECT_EQ(Utf16ToAnsi(wide), all);
  // No look-alikes for what the code page lacks.
  EXPECT_EQ(Utf16ToAnsi(u"A\u0100\u4E2D\u2122"), "A??\x99");
  EXPECT_EQ(AnsiToUtf16(""), u"");
}

}  // namespace
}  // namespace platform
