// Bounded wide-string helpers behave as their Win32 counterparts.
#include "platform/Text.h"

#include <gtest/gtest.h>

namespace platform {
namespace {

TEST(TextTest, BoundedCopyAndConcatenation) {
  char16_t buf[6] = u"ab";
  EXPECT_TRUE(StrCat(buf, 6, u"cde"));
  EXPECT_EQ(std::u16string(buf), u"abcde");
  // One more unit would leave no room for the terminator: the buffer empties, as wcscat_s does.
  EXPECT_FALSE(StrCat(buf, 6, u"f"));
  EXPECT_EQ(buf[0], 0);
  EXPECT_TRUE(StrCopy(buf, 6, u"12345"));
  EXPECT_FALSE(StrCopy(buf, 6, u"123456"));
  EXPECT_EQ(buf[0], 0);
}

TEST(TextTest, CaseFoldingCoversAsciiLettersOnly) {
  EXPECT_EQ(CompareIgnoringAsciiCase(u"sTaTe", u"State"), 0);
  EXPECT_NE(CompareIgnoringAsciiCase(u"States", u"State"), 0);
  EXPECT_NE(CompareIgnoringAsciiCase(u"\u00e9", u"\u00c9"), 0);
}

TEST(TextTest, Utf8RoundTripKeepsSurrogatePairs) {
  std::u16string s = u"A\u00e9\u20ac\U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(s)), s);
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace platform
