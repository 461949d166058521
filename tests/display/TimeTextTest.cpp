#include "display/TimeText.h"

#include <gtest/gtest.h>
#include <limits>

TEST(TimeText, FramesShowEveryDigitWithoutSeparators)
{
    EXPECT_EQ(TimeText::frames(0), QStringLiteral("0Fm"));
    EXPECT_EQ(TimeText::frames(1234), QStringLiteral("1234Fm"));
    EXPECT_EQ(TimeText::frames(123456), QStringLiteral("123456Fm"));
    EXPECT_EQ(TimeText::frames(std::numeric_limits<qint32>::max()),
              QStringLiteral("2147483647Fm"));
}

TEST(TimeText, SecondsHaveOneDecimalAndRoundTheExactHalfUp)
{
    const struct {
        qint32 ms;
        const char *text;
    } cases[] = {
        {0, "0.0秒"},        {49, "0.0秒"},         {50, "0.1秒"},
        {340, "0.3秒"},      {350, "0.4秒"},        {999, "1.0秒"},
        {9000, "9.0秒"},     {1050, "1.1秒"},       {2150, "2.2秒"},
        {4115200, "4115.2秒"}, {4115249, "4115.2秒"}, {4115250, "4115.3秒"},
        // The largest position must not overflow on the way to tenths.
        {std::numeric_limits<qint32>::max(), "2147483.6秒"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TimeText::seconds(c.ms), QString::fromUtf8(c.text)) << c.ms << " ms";
}

TEST(TimeText, NegativeSecondsRoundAwayFromZeroAndNeverShowMinusZero)
{
    EXPECT_EQ(TimeText::seconds(-350), QStringLiteral("-0.4秒"));
    EXPECT_EQ(TimeText::seconds(-40), QStringLiteral("0.0秒"));
    EXPECT_EQ(TimeText::seconds(std::numeric_limits<qint32>::min()),
              QStringLiteral("-2147483.6秒"));
}
