#include "platform/video/audio/AudioClock.h"

#include <gtest/gtest.h>

using namespace video::audio;
using namespace std::chrono_literals;

namespace {

constexpr int kRate = 48000;

// Drives a clock with hand-made time: an output that reports every `every` and plays at
// real-time rate, read every `step`.
struct Rig {
    AudioClock clock;
    TimePoint t0 = TimePoint{} + 1000s;
    OutputPosition position;

    explicit Rig(double from, int speed)
    {
        clock.restart(from, speed, kRate);
        position.at = t0;
    }
    void report(SteadyClock::duration heard, SteadyClock::duration at, bool ended = false)
    {
        position.reported = true;
        position.framesHeard = std::chrono::duration_cast<std::chrono::microseconds>(heard).count()
                               * kRate / 1000000;
        position.at = t0 + at;
        position.ended = ended;
    }
    double read(SteadyClock::duration at) { return clock.read(position, t0 + at); }
};

} // namespace

// Until the first sample reaches the listener (a device's latency) the clock waits.
TEST(AudioClock, StaysAtTheStartUntilSoundIsHeard)
{
    Rig rig(12.5, 1000);
    EXPECT_DOUBLE_EQ(rig.read(0ms), 12.5);
    EXPECT_DOUBLE_EQ(rig.read(300ms), 12.5);
    rig.report(0ms, 310ms);
    EXPECT_DOUBLE_EQ(rig.read(330ms), 12.5);
    rig.report(10ms, 340ms);
    EXPECT_NEAR(rig.read(345ms), 12.515, 1e-9);
}

// An output that moves in coarse steps (every 20 ms) read every millisecond: each reading
// moves forward by about the elapsed time times the speed, never back, and stays within a
// few milliseconds of the truth.
TEST(AudioClock, SmoothAndMonotonicOverCoarseReports)
{
    for (int speed : {250, 1000, 3000}) {
        Rig rig(2.0, speed);
        const double factor = speed / 1000.0;
        double previous = rig.read(0ms);
        for (int ms = 1; ms <= 2000; ++ms) {
            const auto now = std::chrono::milliseconds(ms);
            if (ms % 20 == 0)
                rig.report(now, now);
            const double value = rig.read(now);
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
        rig.report(std::chrono::milliseconds(ms), std::chrono::milliseconds(ms));
        rig.read(std::chrono::milliseconds(ms));
    }
    // The output stays at 0.5 s heard for a second.
    double stalled = 0;
    for (int ms = 510; ms <= 1500; ms += 10)
        stalled = rig.read(std::chrono::milliseconds(ms));
    EXPECT_NEAR(stalled, 0.5, 0.1);
    EXPECT_GE(stalled, 0.5);
    // It plays again.
    double previous = stalled;
    for (int ms = 1510; ms <= 2500; ms += 10) {
        rig.report(std::chrono::milliseconds(ms - 1000), std::chrono::milliseconds(ms));
        const double value = rig.read(std::chrono::milliseconds(ms));
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
        rig.report(std::chrono::milliseconds(ms), std::chrono::milliseconds(ms), ms == 400);
        rig.read(std::chrono::milliseconds(ms));
    }
    EXPECT_NEAR(rig.read(400ms), 1.8, 0.01);
    EXPECT_NEAR(rig.read(1400ms), 3.8, 0.01);
    rig.clock.restart(1.0, 1000, kRate);
    rig.position = OutputPosition{};
    EXPECT_DOUBLE_EQ(rig.read(1500ms), 1.0);
}

// An output far ahead of the readings (a late first report) is caught up with at once,
// while a small lead is closed gradually.
TEST(AudioClock, CatchesUpWhenFarBehind)
{
    Rig rig(0, 1000);
    rig.report(0ms, 0ms);
    EXPECT_DOUBLE_EQ(rig.read(0ms), 0);
    rig.report(800ms, 100ms);
    EXPECT_NEAR(rig.read(100ms), 0.8, 1e-9);
    rig.report(850ms, 110ms); // 40 ms ahead of the reading
    const double next = rig.read(110ms);
    EXPECT_GT(next, 0.81);
    EXPECT_LT(next, 0.85);
}
