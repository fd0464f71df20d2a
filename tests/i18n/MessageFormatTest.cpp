#include "i18n/MessageFormat.h"

#include <gtest/gtest.h>

using parvane::FormatMessageText;
using parvane::ListConversions;

namespace {

TEST(MessageFormatTest, FillsIntegerConversionsInOrder)
{
    EXPECT_EQ(FormatMessageText("Busy %d, period %d ms", {12, 700}), "Busy 12, period 700 ms");
    EXPECT_EQ(FormatMessageText("[%5d][%-4i][%03d][%+d]", {7, 8, 9, 10}), "[    7][8   ][009][+10]");
    EXPECT_EQ(FormatMessageText("%ld %lld %hd", {-1, 2, 3}), "-1 2 3");
    EXPECT_EQ(FormatMessageText("%x %X %o %u", {255, 255, 8, -1}), "ff FF 10 4294967295");
    EXPECT_EQ(FormatMessageText("100%% sure, %d%%", {5}), "100% sure, 5%");
    EXPECT_EQ(FormatMessageText("计数 %d", {3}), "计数 3");
}

TEST(MessageFormatTest, CopiesWhatItCannotFillSafely)
{
    EXPECT_EQ(FormatMessageText("%s and %d", {1, 2}), "%s and 2") << "each conversion keeps its argument's place";
    EXPECT_EQ(FormatMessageText("%d %d %d", {1}), "1 %d %d");
    EXPECT_EQ(FormatMessageText("%n%p%f", {1, 2, 3}), "%n%p%f");
    EXPECT_EQ(FormatMessageText("%*d|%.*d", {5, 6}), "%*d|%.*d");
    EXPECT_EQ(FormatMessageText("%999999999d", {1}), "%999999999d");
    EXPECT_EQ(FormatMessageText("%255d", {1}).size(), 255u);
    EXPECT_EQ(FormatMessageText("ends with %", {1}), "ends with %");
    EXPECT_EQ(FormatMessageText("%l", {1}), "%l");
}

TEST(MessageFormatTest, ListsConversions)
{
    const auto conversions = ListConversions("%% %d %5.2s %*d %lu %");
    ASSERT_EQ(conversions.size(), 5u);
    EXPECT_EQ(conversions[0].type, 'd');
    EXPECT_TRUE(conversions[0].takesInteger);
    EXPECT_EQ(conversions[1].type, 's');
    EXPECT_FALSE(conversions[1].takesInteger);
    EXPECT_EQ(conversions[2].type, 'd');
    EXPECT_FALSE(conversions[2].takesInteger) << "a '*' width would read an argument of its own";
    EXPECT_EQ(conversions[3].type, 'u');
    EXPECT_EQ(conversions[4].type, '\0') << "a '%' at the end converts nothing";
    EXPECT_TRUE(ListConversions("no conversions, 100%%").empty());
}

} // namespace
