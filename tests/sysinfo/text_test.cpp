#include "sysinfo/text.h"

#include <gtest/gtest.h>

using namespace sysinfo;

TEST(ReplaceAll, ScansLeftToRightWithoutRescanning) {
  EXPECT_EQ(ReplaceAll("aaaa", "aa", "a"), "aa");
  EXPECT_EQ(ReplaceAll(": : :", ": :", ": "), ":  :");
  EXPECT_EQ(ReplaceAll("abc", "", "x"), "abc");
  EXPECT_EQ(ReplaceAll("Unknown unknown", "unknown", "Unknown"), "Unknown Unknown");
  EXPECT_EQ(ReplaceAll("x--y", "--", " "), "x y");
}

TEST(StripParentheses, GroupsBecomeOneBlank) {
  EXPECT_EQ(StripParentheses("8 (8)"), "8 ");
  EXPECT_EQ(StripParentheses("(only)"), "unknown");
  EXPECT_EQ(StripParentheses("   "), "unknown");
  EXPECT_EQ(StripParentheses("a ) b (c) d"), "a ) b  d");
  // Nested: from the first "(" to the first ")" after it; the rest of the outer group stays.
  EXPECT_EQ(StripParentheses("a (b (c) d) e"), "a  d) e");
  // A single pass of "  " -> " ": three blanks become two.
  EXPECT_EQ(StripParentheses("a   b"), "a  b");
}

TEST(StripParentheses, UnclosedGroupRunsToTheEnd) {
  EXPECT_EQ(StripParentheses("DDR4 (3200"), "DDR4 ");
  EXPECT_EQ(StripParentheses("(open"), "unknown");
  EXPECT_EQ(StripParentheses("a (b) c (d"), "a  c ");
}

TEST(Blanks, CollapseRemoveTrim) {
  EXPECT_EQ(CollapseBlanks("  a   b  "), " a b ");
  EXPECT_EQ(CollapseBlanks("a\t\tb"), "a\t\tb");
  EXPECT_EQ(RemoveBlanks(" a b\tc "), "ab\tc");
  EXPECT_EQ(Trim("\t\r\n a b \x01\x20"), "a b");
  EXPECT_EQ(Trim("\xA0x\xA0"), "\xA0x\xA0");  // only codes up to 32 count
}

TEST(SplitLines, AllLineEnds) {
  EXPECT_EQ(SplitLines("a\r\nb\nc\rd"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(SplitLines("a\r\n"), (std::vector<std::string>{"a"}));
  EXPECT_EQ(SplitLines("a\n\nb\r\r"), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_TRUE(SplitLines("").empty());
  EXPECT_EQ(SplitLines("\r\n"), (std::vector<std::string>{""}));
}
