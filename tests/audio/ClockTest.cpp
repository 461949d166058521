#include "platform/video/audio/AudioClock.h"

#include <gtest/gtest.h>

using namespace video::audio;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 48000;

// Drives a clock with hand-made time, in milliseconds: an output that reports what it has
// played, and readings.
struct Rig {
    AudioClock clock;
    TimePoint t0 = TimePoint{} + 1000s;
    OutputPosition position{.at = t0};

    explicit Rig(double from, int speed) { clock.restart(from, speed, kRate); }
    void report(int heardMs, int atMs, bool ended = false)
    {
        position = {int64_t(heardMs) * kRate / 1000, t0 + std::chrono::milliseconds(atMs), true,
            ended};
    }
    double read(int atMs) { return clock.read(position, t0 + std::chrono::milliseconds(atMs)); }
};

} // namespace

// Until the first sample reaches the listener (a device's latency) the clock waits; an output
// far ahead of the readings (a late first report) is caught up with at once, while a small
// lead is closed gradually.
TEST(AudioClock, WaitsForTheFirstSoundHeardAndCatchesUpWhenFarBehind)
{
    Rig rig(12.5, 1000);
    EXPECT_DOUBLE_EQ(rig.read(0), 12.5);
    EXPECT_DOUBLE_EQ(rig.read(300), 12.5);
    rig.report(0, 310);
    EXPECT_DOUBLE_EQ(rig.read(330), 12.5);
    rig.report(10, 340);
    EXPECT_NEAR(rig.read(345), 12.515, 1e-9);

    Rig late(0, 1000);
    late.report(0, 0);
    EXPECT_DOUBLE_EQ(late.read(0), 0);
    late.report(800, 100);
    EXPECT_NEAR(late.read(100), 0.8, 1e-9);
    late.report(850, 110); // 40 ms ahead of the reading
    const double next = late.read(110);
    EXPECT_GT(next, 0.81);
    EXPECT_LT(next, 0.85);
}

// An output that moves in coarse steps (every 20 ms) read every millisecond: each reading
// moves forward by about the elapsed time times the speed, never back, and stays within a
// few milliseconds of the truth.
TEST(AudioClock, SmoothAndMonotonicOverCoarseReports)
{
    for (int speed : {250, 1000, 3000}) {
        Rig rig(2.0, speed);
        const double factor = speed / 1000.0;
        double previous = rig.read(0);
        for (int ms = 1; ms <= 2000; ++ms) {
            if (ms % 20 == 0)
                rig.report(ms, ms);
            const double value = rig.read(ms);
            EXPECT_GE(value, previous) << speed << " at " << ms;
            EXPECT_LE(value - previous, 0.0015 * factor * 2 + 1e-9) << speed << " at " << ms;
            if (ms > 200) {
                EXPECT_NEAR(value, 2.0 + ms / 1000.0 * factor, 0.025 * factor) << ms;
            }
            previous = value;
        }
    }
}

// A sound card that stops taking data (a dry queue) stops the clock soon after, and when it
// goes on the clock goes on from there without a jump.
TEST(AudioClock, StallsWithTheOutput)
{
    Rig rig(0, 1000);
    for (int ms = 10; ms <= 500; ms += 10) {
        rig.report(ms, ms);
        rig.read(ms);
    }
    // The output stays at 0.5 s heard for a second.
    double stalled = 0;
    for (int ms = 510; ms <= 1500; ms += 10)
        stalled = rig.read(ms);
    EXPECT_NEAR(stalled, 0.5, 0.1);
    EXPECT_GE(stalled, 0.5);
    // It plays again.
    double previous = stalled;
    for (int ms = 1510; ms <= 2500; ms += 10) {
        rig.report(ms - 1000, ms);
        const double value = rig.read(ms);
        EXPECT_GE(value, previous);
        EXPECT_LE(value - previous, 0.02);
        previous = value;
    }
    EXPECT_NEAR(previous, 1.5, 0.02);
}

// When the sound has ended, the clock runs on in real time past the last report; a restart
// forgets the past.
TEST(AudioClock, RunsOnAfterTheSoundEndsAndRestartsAfresh)
{
    Rig rig(1.0, 2000);
    for (int ms = 10; ms <= 400; ms += 10) {
        rig.report(ms, ms, ms == 400);
        rig.read(ms);
    }
    EXPECT_NEAR(rig.read(400), 1.8, 0.01);
    EXPECT_NEAR(rig.read(1400), 3.8, 0.01);
    rig.clock.restart(1.0, 1000, kRate);
    rig.position = OutputPosition{};
    EXPECT_DOUBLE_EQ(rig.read(1500), 1.0);
}
