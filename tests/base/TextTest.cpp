#include "base/Text.h"

#include <gtest/gtest.h>

namespace tallyloft {
namespace {

TEST(Text, CountsUserPerceivedCharacters) {
  EXPECT_EQ(prefixGraphemes("abcdef", 3), "abc");
  EXPECT_EQ(prefixGraphemes("ab", 3), "ab");
  EXPECT_EQ(prefixGraphemes("e\u0301e\u0301e\u0301", 2), "e\u0301e\u0301");
  EXPECT_EQ(prefixGraphemes("\r\nab", 1), "\r\n");
  EXPECT_EQ(prefixGraphemes("\U0001F468\u200D\U0001F469\u200D\U0001F467xy", 2),
            "\U0001F468\u200D\U0001F469\u200D\U0001F467x");
  EXPECT_EQ(prefixGraphemes("\xff\xfe\xfd", 2), "\xff\xfe");  // stray bytes count one each
  EXPECT_EQ(truncateGraphemes("abc", 2), "ab\u2026");
  EXPECT_EQ(truncateGraphemes("abc", 3), "abc");
}

TEST(Text, TrimsUnicodeWhitespace) {
  EXPECT_EQ(trimWhitespace(" \t\n fix it \r\n"), "fix it");
  EXPECT_EQ(trimWhitespace("\u00a0\u3000x y\u2003"), "x y");
  EXPECT_EQ(trimWhitespace(" \n\t "), "");
  EXPECT_EQ(trimWhitespace("\xff "), "\xff");
}

TEST(Text, RepairsIllFormedUtf8) {
  EXPECT_TRUE(isValidUtf8("caf\u00e9 \U0001F600"));
  EXPECT_FALSE(isValidUtf8("a\xc0\xafz"));
  EXPECT_FALSE(isValidUtf8("\xed\xa0\x80"));
  EXPECT_EQ(replaceInvalidUtf8("a\xffz\xe2\x82"), "a\uFFFDz\uFFFD\uFFFD");
}

}  // namespace
}  // namespace tallyloft
