#include "platform/video/play/DecodeAhead.h"
#include "tests/device/FakeFrameSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

video::PlayPlan forwardPlan(int from, int to)
{
    video::PlayPlan plan;
    plan.from = from;
    plan.to = to;
    return plan;
}

// The queue holds frames as decoded, up to its capacity; a taker that comes late gets the
// latest frame due, and the decoder goes on from there.
TEST(DecodeAhead, FillsItsQueueAndALateTakerGetsTheLatestFrameDue)
{
    FakeFrameSource source(100);
    video::DecodeAhead ahead(source);
    ahead.begin(forwardPlan(0, 99), 0, 10);
    ahead.waitIdle();
    EXPECT_EQ(source.requested(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));

    const auto frame = ahead.takeUpTo(5);
    ASSERT_TRUE(frame && frame->picture);
    EXPECT_EQ(frame->position, 5);
    EXPECT_EQ(FakeFrameSource::positionOf(frame->picture->toImage()), 5);
    ahead.waitIdle(); // room for six more
    EXPECT_EQ(source.requested().back(), 15);
}

TEST(DecodeAhead, HaltAndDestructionDuringADecodeEndCleanly)
{
    FakeFrameSource source(100);
    source.hold(true);
    std::thread releaser;
    {
        video::DecodeAhead ahead(source);
        ahead.begin(forwardPlan(0, 99), 0, 4);
        source.waitUntilHeld();
        ahead.halt();
        EXPECT_FALSE(ahead.takeUpTo(50)); // the queue went with the play
        releaser = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            source.hold(false);
        });
        // The destructor waits for the decode in hand, then the thread ends: a hang here is
        // the fault (the test's time limit catches it).
    }
    releaser.join();
    EXPECT_EQ(source.requested(), (std::vector<int>{0}));
}

} // namespace
