#include "platform/avi/audio/AudioTrack.h"
#include "tests/audio/AudioFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace audiotest;
using Clock = std::chrono::steady_clock;

namespace {

class AudioTrackTest : public ::testing::Test {
protected:
    void SetUp() override { avi::setSilentAudioOnly(true); }
    void TearDown() override { avi::setSilentAudioOnly(false); }

    std::unique_ptr<avi::AudioTrack> open(const QString &encoder = "pcm_s16le")
    {
        QString error;
        auto track = avi::openAudioTrack(aviWith(Sound::Tone, encoder), &error);
        EXPECT_TRUE(track) << error.toStdString();
        return track;
    }
};

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

} // namespace

TEST_F(AudioTrackTest, OpensOnlyFilesWithSound)
{
    QString error;
    EXPECT_TRUE(avi::openAudioTrack(aviWith(Sound::Sweep, "adpcm_ms"), &error));
    EXPECT_FALSE(avi::openAudioTrack(aviWithoutSound(), &error));
    EXPECT_EQ(error, QStringLiteral("音声がありません"));
    error.clear();
    EXPECT_FALSE(avi::openAudioTrack(wavFile(), &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST_F(AudioTrackTest, RefusesSpeedsItCannotKeepThePitchAt)
{
    auto track = open();
    ASSERT_TRUE(track);
    for (int speed : {0, 1, 249, 3001, -1000}) {
        EXPECT_FALSE(track->start(0, speed)) << speed;
        EXPECT_FALSE(track->clockSeconds()) << speed;
    }
    EXPECT_TRUE(track->start(0, 250));
    EXPECT_TRUE(track->clockSeconds());
    // A refused start also ends what was playing.
    EXPECT_FALSE(track->start(0, 3001));
    EXPECT_FALSE(track->clockSeconds());
    EXPECT_TRUE(track->start(1.0, 3000));
    EXPECT_GE(*track->clockSeconds(), 1.0);
}

// The silent stand-in takes the sound at the real-time rate: the clock follows the wall clock
// times the speed, smoothly, and muting does not stop it. (Real time, kept short.)
TEST_F(AudioTrackTest, SilentClockKeepsRealTimeAndIgnoresMute)
{
    auto track = open();
    ASSERT_TRUE(track);
    for (int speed : {1000, 2000}) {
        const double from = 0.5;
        ASSERT_TRUE(track->start(from, speed));
        EXPECT_FALSE(track->audible());
        const double factor = speed / 1000.0;
        const auto begin = Clock::now();
        auto previousAt = begin;
        double previous = *track->clockSeconds();
        double first = previous;
        bool muted = false;
        double mutedAt = 0;
        while (Clock::now() - begin < std::chrono::milliseconds(300)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            if (!muted && Clock::now() - begin > std::chrono::milliseconds(150)) {
                track->setMuted(true);
                muted = true;
                mutedAt = previous;
            }
            const auto at = Clock::now();
            const double now = *track->clockSeconds();
            ASSERT_GE(now, previous);
            EXPECT_LE(now - previous, (seconds(at - previousAt) + 0.03) * factor) << "a jump";
            previous = now;
            previousAt = at;
        }
        const double elapsed = seconds(Clock::now() - begin);
        EXPECT_GE(first, from);
        EXPECT_GT(previous, mutedAt + 0.1 * factor) << "muted, the clock runs on";
        // The output starts within a few milliseconds of start(); a loaded machine may delay
        // it somewhat, never make it run fast.
        EXPECT_NEAR(previous - from, elapsed * factor, 0.12 * factor) << speed;
        EXPECT_LE(previous - from, (elapsed + 0.04) * factor) << speed;
        track->setMuted(false);
    }
}

// With the default device, whatever this machine has: a real one plays, and where none
// answers (CI) start() still succeeds with the stand-in. Either way the controls work.
TEST_F(AudioTrackTest, PlaysOnTheDefaultDeviceOrFallsBackToSilence)
{
    avi::setSilentAudioOnly(false);
    auto track = open();
    ASSERT_TRUE(track);
    ASSERT_TRUE(track->start(0.5, 1000));
    ASSERT_TRUE(track->clockSeconds());
    EXPECT_GE(*track->clockSeconds(), 0.5);
    track->setMuted(true);
    ASSERT_TRUE(track->start(1.0, 2000));
    EXPECT_GE(*track->clockSeconds(), 1.0);
    track->stop();
    EXPECT_FALSE(track->clockSeconds());
    EXPECT_FALSE(track->audible());
    ASSERT_TRUE(track->start(2.0, 500));
    track.reset(); // destroyed while playing
}

TEST_F(AudioTrackTest, StopAndDestroyEndCleanly)
{
    auto track = open();
    ASSERT_TRUE(track);
    track->stop(); // before any start
    EXPECT_FALSE(track->clockSeconds());
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(track->start(round * 0.3, round % 2 ? 500 : 1500));
        if (round % 3 == 0)
            track->setMuted(round % 2 == 0);
        track->stop();
        track->stop();
        EXPECT_FALSE(track->clockSeconds());
    }
    // Start over a running start, stop near the end of the sound, destroy while playing.
    ASSERT_TRUE(track->start(3.99, 1000));
    ASSERT_TRUE(track->start(0, 1000));
    EXPECT_LT(*track->clockSeconds(), 1.0);
    ASSERT_TRUE(track->start(100.0, 1000)); // far past the end: the clock runs on by itself
    EXPECT_GE(*track->clockSeconds(), 100.0);
    track.reset();

    auto other = open("adpcm_ima_wav");
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->start(1.0, 2000));
    other.reset();
}
