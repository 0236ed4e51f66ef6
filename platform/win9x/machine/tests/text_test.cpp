#include "machine/text.h"

#include <gtest/gtest.h>

namespace w9x::text {
namespace {

// "表示\A" in code page 932: 95 5C 8E A6 5C 41.  The 5C inside 表 is a trail byte, not a separator.
const std::string kHyoujiPath = "\x95\x5C\x8E\xA6\\A";

TEST(Text, SeparatorSearchSkipsTrailBytes) {
  EXPECT_EQ(Find(kHyoujiPath, '\\'), 4u);
  EXPECT_EQ(FindLast(kHyoujiPath, '\\'), 4u);
  EXPECT_EQ(Find("\x95\x5C", '\\'), std::string::npos);
  // A lead byte at the very end stands alone.
  EXPECT_EQ(FindLast(std::string("A\\\x95"), '\\'), 1u);
}

TEST(Text, UpperFoldsAsciiOnly) {
  EXPECT_EQ(Upper("abc\x82\x61z"), "ABC\x82\x61Z");  // 0x82 0x61 is a double-byte character
  EXPECT_TRUE(EqualNoCase("System.Ini", "SYSTEM.INI"));
  EXPECT_FALSE(EqualNoCase("SYSTEM.INI", "SYSTEM.IN"));
}

TEST(Text, ConvertsBothWays) {
  EXPECT_EQ(ToUtf8(kHyoujiPath), "表示\\A");
  EXPECT_EQ(ToCp932("表示\\A"), kHyoujiPath);
  EXPECT_EQ(ToUtf8("\x81"), "\xEF\xBF\xBD");
  EXPECT_EQ(ToCp932("\xF0\x9F\x98\x80"), std::nullopt);  // an emoji has no code page 932 form
}

}  // namespace
}  // namespace w9x::text
