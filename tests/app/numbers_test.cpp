// Number texts of the dialogs: reading an edit's number and the progress percentage.
#include "core/numbers.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

TEST(ParseUnsigned, AcceptsDecimalWithBlanksAround)
{
    EXPECT_EQ(ParseUnsigned("640"), 640u);
    EXPECT_EQ(ParseUnsigned("0"), 0u);
    EXPECT_EQ(ParseUnsigned(" \t 12 \t"), 12u);
    EXPECT_EQ(ParseUnsigned("007"), 7u);
    EXPECT_EQ(ParseUnsigned("4294967295"), 4294967295u);
}

TEST(ParseUnsigned, RejectsAnythingElse)
{
    for (const char* text : {"", "   ", "-1", "+1", "1 2", "12a", "0x10", "1.5", "4294967296", "99999999999999999999"})
        EXPECT_FALSE(ParseUnsigned(text).has_value()) << '"' << text << '"';
}

TEST(PercentText, IntegerDivisionAndTheWrapPastAHundred)
{
    EXPECT_EQ(PercentText(0, 0, 3), "0%");
    EXPECT_EQ(PercentText(1, 0, 3), "33%");
    EXPECT_EQ(PercentText(2, 0, 3), "66%");
    EXPECT_EQ(PercentText(2, 0, 4), "50%");
    EXPECT_EQ(PercentText(4, 0, 4), "100%");
    EXPECT_EQ(PercentText(6, 0, 4), "50%");   // 150 % of the range
    EXPECT_EQ(PercentText(8, 0, 4), "0%");    // 200 % wraps to 0
    EXPECT_EQ(PercentText(15, 10, 20), "50%");
    EXPECT_EQ(PercentText(69999, 0, 70000), "99%");  // no 16-bit limit on the range
}

}  // namespace
}  // namespace quillet
