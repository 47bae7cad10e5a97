#include "core/Text.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>

namespace uninst {
namespace {

struct FormatCase {
  const char* format;
  long number;
  const char* string;
  const char* expected;
};

class TextFormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(TextFormatTest, FillsTheConversions) {
  Text text;
  EXPECT_TRUE(text.Format(GetParam().format, GetParam().number, GetParam().string));
  EXPECT_STREQ(text.Get(), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, TextFormatTest,
    ::testing::Values(FormatCase{"%ld bytes %s", 1536, "1999/03/03", "1536 bytes 1999/03/03"},
                      FormatCase{"%ld bytes %s", 0, "", "0 bytes "},
                      FormatCase{"%ld bytes %s", -1073741824L, "x", "-1073741824 bytes x"},
                      FormatCase{"%d", INT_MIN, "", "-2147483648"},
                      FormatCase{"100%% %s%", 7, "done", "100% done%"},
                      FormatCase{"%x %s", 5, "y", "%x y"}));

TEST(TextTest, RefusesAnAppendThatDoesNotFitAndKeepsItsContent) {
  Text text;
  text.Assign("keep");
  const std::string tooLong(Text::kCapacity, 'x');
  EXPECT_FALSE(text.Append(tooLong.c_str()));
  EXPECT_STREQ(text.Get(), "keep");
  const std::string fits(Text::kCapacity - 5, 'y');
  EXPECT_TRUE(text.Append(fits.c_str()));
  EXPECT_EQ(text.Length(), Text::kCapacity - 1);
}

TEST(JoinPathTest, JoinsWithSingleBackslashes) {
  char dest[32];
  const char* const parts[] = {"C:\\WINDOWS", "INF\\OTHER", "A.INF"};
  ASSERT_TRUE(JoinPath(dest, parts));
  EXPECT_STREQ(dest, "C:\\WINDOWS\\INF\\OTHER\\A.INF");
  const char* const empty[] = {"", "INF", "A.INF"};
  ASSERT_TRUE(JoinPath(dest, empty));
  EXPECT_STREQ(dest, "\\INF\\A.INF");
}

TEST(JoinPathTest, RefusesAPathThatDoesNotFitInsteadOfCuttingIt) {
  char dest[12];
  std::strcpy(dest, "untouched");
  const char* const exact[] = {"ABCDE", "FGHIJ"};  // 11 characters and the terminator
  EXPECT_TRUE(JoinPath(dest, exact));
  const char* const over[] = {"ABCDE", "FGHIJK"};
  std::strcpy(dest, "untouched");
  EXPECT_FALSE(JoinPath(dest, over));
  EXPECT_STREQ(dest, "untouched");
}

TEST(JoinPathTest, TakesAPartFromTheDestinationItself) {
  char dest[64] = "fdc\\0000";
  const char* const parts[] = {"System\\CurrentControlSet\\Services\\Class", dest};
  ASSERT_TRUE(JoinPath(dest, parts));
  EXPECT_STREQ(dest, "System\\CurrentControlSet\\Services\\Class\\fdc\\0000");
}

TEST(CopyBoundedTest, CopiesOnlyWhatFitsWhole) {
  char dest[4] = "old";
  EXPECT_TRUE(CopyBounded(dest, sizeof dest, "abc"));
  EXPECT_STREQ(dest, "abc");
  EXPECT_FALSE(CopyBounded(dest, sizeof dest, "abcd"));
  EXPECT_STREQ(dest, "abc");
}

}  // namespace
}  // namespace uninst
