#include <gtest/gtest.h>

#include "core/text.h"

namespace tessivo {
namespace {

TEST(CompareNoCase, FoldsOnlyAsciiCapitals) {
  EXPECT_EQ(compareNoCase(u"Explorer.EXE", u"explorer.exe"), 0);
  EXPECT_LT(compareNoCase(u"abc", u"abd"), 0);
  EXPECT_LT(compareNoCase(u"ab", u"abc"), 0);  // a prefix is the smaller
  EXPECT_GT(compareNoCase(u"abc", u"ab"), 0);
  // Non-ASCII letters compare by value: Ä (U+00C4) and ä (U+00E4) differ.
  EXPECT_NE(compareNoCase(u"\u00C4", u"\u00E4"), 0);
  // Folding is to lower case, as _wcsicmp does: '_' (0x5F) then sorts before every
  // letter, although it lies above 'Z'.
  EXPECT_LT(compareNoCase(u"A_", u"AB"), 0);
}

TEST(Utf8, RoundTripsChineseAndAstralText) {
  const std::string s = "（未知） 读取 \xF0\x9F\x98\x80";
  EXPECT_EQ(toUtf8(fromUtf8(s)), s);
  EXPECT_EQ(fromUtf8("（未知）"), std::u16string(u"（未知）"));
}

}  // namespace
}  // namespace tessivo
