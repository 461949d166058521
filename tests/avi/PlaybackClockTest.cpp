#include "platform/avi/device/FrameTime.h"
#include "platform/avi/play/PlayPlan.h"
#include "platform/avi/play/PlaybackClock.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using avi::PlaybackClock;

namespace {

const avi::SteadyTime t0 = avi::SteadyTime(1h);

TEST(PlaybackClock, MovesAtItsRateInEitherDirection)
{
    PlaybackClock forward(t0, 10.0, 25.0, PlaybackClock::Direction::Forward);
    EXPECT_DOUBLE_EQ(forward.positionAt(t0), 10.0);
    EXPECT_DOUBLE_EQ(forward.positionAt(t0 + 2s), 60.0);
    PlaybackClock backward(t0, 100.0, 25.0, PlaybackClock::Direction::Backward);
    EXPECT_DOUBLE_EQ(backward.positionAt(t0 + 2s), 50.0);
    EXPECT_EQ(backward.timeOf(75.0), t0 + 1s);
}

TEST(PlaybackClock, RateAndDirectionChangesDoNotJump)
{
    PlaybackClock clock(t0, 0.0, 25.0, PlaybackClock::Direction::Forward);
    clock.setRate(t0 + 1s, 50.0); // at 25 frames
    EXPECT_DOUBLE_EQ(clock.positionAt(t0 + 1s), 25.0);
    EXPECT_DOUBLE_EQ(clock.positionAt(t0 + 2s), 75.0);
    clock.setDirection(t0 + 2s, PlaybackClock::Direction::Backward);
    EXPECT_DOUBLE_EQ(clock.positionAt(t0 + 2s), 75.0);
    EXPECT_DOUBLE_EQ(clock.positionAt(t0 + 3s), 25.0);
    // The slowest speed: a thousandth of 25 fps is one frame in 40 seconds.
    clock.setRate(t0 + 3s, 0.025);
    EXPECT_DOUBLE_EQ(clock.positionAt(t0 + 43s), 24.0);
}

TEST(PlayPlan, OrdinalsMapToPositionsAndWrapWhenRepeating)
{
    avi::PlayPlan forward{10, 13, false, true};
    std::vector<int> seen;
    for (int k = 0; k < 9; ++k)
        seen.push_back(forward.positionOf(k));
    EXPECT_EQ(seen, (std::vector<int>{10, 11, 12, 13, 10, 11, 12, 13, 10}));
    EXPECT_EQ(forward.cycleOf(8), 2);
    EXPECT_EQ(forward.lastOrdinal(), -1);

    avi::PlayPlan backward{13, 10, true, true};
    seen.clear();
    for (int k = 0; k < 6; ++k)
        seen.push_back(backward.positionOf(k));
    EXPECT_EQ(seen, (std::vector<int>{13, 12, 11, 10, 13, 12}));

    avi::PlayPlan once{20, 5, true, false};
    EXPECT_EQ(once.lastOrdinal(), 15);
    EXPECT_EQ(once.positionOf(15), 5);
    EXPECT_EQ(once.positionOf(99), 5);
}

TEST(FrameTime, MillisecondsRoundTripToTheSameFrame)
{
    for (const auto &[num, den] : {std::pair{25, 1}, {30000, 1001}, {24000, 1001}, {15, 2}}) {
        const avi::FrameTime t(num, den);
        for (qint64 frame = 0; frame < 20000; frame += 7)
            ASSERT_EQ(t.toFrames(t.toMilliseconds(frame)), frame) << num << "/" << den;
    }
    const avi::FrameTime ntsc(30000, 1001);
    EXPECT_EQ(ntsc.toMilliseconds(1), 33);  // 33.37
    EXPECT_EQ(ntsc.toMilliseconds(2), 67);  // 66.73
    EXPECT_EQ(ntsc.toFrames(50), 1);        // 1.4985
    EXPECT_EQ(ntsc.toFrames(51), 2);        // 1.5285
    EXPECT_EQ(ntsc.rateTimes1000(), 29970); // 29970.03
    EXPECT_EQ(avi::FrameTime(25, 1).toMilliseconds(250), 10000);
}

} // namespace
