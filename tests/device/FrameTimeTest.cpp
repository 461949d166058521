#include "platform/video/device/FrameTime.h"

#include <gtest/gtest.h>

// The clock, the play plan and their rate and direction changes are checked through the
// device's plays on a manual clock (PlaybackTest); here only the conversion of units.
TEST(FrameTime, MillisecondsRoundTripToTheSameFrame)
{
    for (const auto &[num, den] : {std::pair{25, 1}, {30000, 1001}, {24000, 1001}, {15, 2}}) {
        const video::FrameTime t(num, den);
        for (qint64 frame = 0; frame < 20000; frame += 7)
            ASSERT_EQ(t.toFrames(t.toMilliseconds(frame)), frame) << num << "/" << den;
    }
    const video::FrameTime ntsc(30000, 1001);
    EXPECT_EQ(ntsc.toMilliseconds(1), 33);  // 33.37
    EXPECT_EQ(ntsc.toMilliseconds(2), 67);  // 66.73
    EXPECT_EQ(ntsc.toFrames(50), 1);        // 1.4985
    EXPECT_EQ(ntsc.toFrames(51), 2);        // 1.5285
    EXPECT_EQ(ntsc.rateTimes1000(), 29970); // 29970.03
}
