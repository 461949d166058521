#include "display/TimeText.h"

#include <gtest/gtest.h>
#include <limits>

// One decimal; the exact half rounds away from zero; no "-0.0"; the extremes of a 32-bit
// position must not overflow on the way to tenths.
TEST(TimeText, SecondsHaveOneDecimalAndRoundTheExactHalfUp)
{
    const struct {
        qint32 ms;
        const char *text;
    } cases[] = {
        {0, "0.0秒"},         {49, "0.0秒"},         {50, "0.1秒"},        {340, "0.3秒"},
        {350, "0.4秒"},       {999, "1.0秒"},        {2150, "2.2秒"},      {4115249, "4115.2秒"},
        {4115250, "4115.3秒"}, {-350, "-0.4秒"},      {-40, "0.0秒"},
        {std::numeric_limits<qint32>::max(), "2147483.6秒"},
        {std::numeric_limits<qint32>::min(), "-2147483.6秒"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(TimeText::seconds(c.ms), QString::fromUtf8(c.text)) << c.ms << " ms";
}
