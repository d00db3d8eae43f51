#include "platform/text.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(TextTest, OnlyAsciiLettersFoldAsStricmpInTheCLocale) {
  EXPECT_TRUE(EqualsIgnoreCase("Profile/D", "pROFILE/d"));
  EXPECT_EQ(FoldCase("HKEY_Local\\Z@[`{"), "hkey_local\\z@[`{");
  // Neighbours of the letters, accented letters and a NUL are bytes as any.
  EXPECT_FALSE(EqualsIgnoreCase("@[", "`{"));
  EXPECT_FALSE(EqualsIgnoreCase("\xC9t\xE9", "\xE9t\xE9"));
  EXPECT_EQ(FoldCase("\xC9"), "\xC9");
  EXPECT_FALSE(EqualsIgnoreCase(std::string_view("a\0b", 3), "a"));
  EXPECT_FALSE(EqualsIgnoreCase("Delete", "Deleted"));
}

}  // namespace
}  // namespace platform
