#include "platform/video/audio/AudioTrack.h"
#include "tests/audio/AudioFiles.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace audiotest;

namespace {

std::unique_ptr<video::AudioTrack> openTone(const QString &encoder = "pcm_s16le")
{
    video::OpenError error;
    auto track = video::openAudioTrack(aviWith(Sound::Tone, encoder), &error);
    EXPECT_TRUE(track) << int(error.why);
    return track;
}

} // namespace

// Speeds it cannot keep the pitch at are refused, and a refused start ends what was playing.
// The silent stand-in keeps real time (the real-time play test holds it to the frame): its
// clock runs on while muted. Every start and stop, over a running start, past the end of the
// sound, destroyed while playing, ends cleanly.
TEST(AudioTrackTest, RefusesSpeedsAndTheSilentClockRunsOnMutedAndEveryStopEndsCleanly)
{
    video::setSilentAudioOnly(true);
    auto track = openTone();
    ASSERT_TRUE(track);
    track->stop(); // before any start
    for (int speed : {0, 1, 249, 3001, -1000}) {
        EXPECT_FALSE(track->start(0, speed)) << speed;
        EXPECT_FALSE(track->clockSeconds()) << speed;
    }
    ASSERT_TRUE(track->start(0.5, 2000));
    EXPECT_FALSE(track->audible());
    track->setMuted(true);
    const double muted = *track->clockSeconds();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_GT(*track->clockSeconds(), muted + 0.1);
    EXPECT_FALSE(track->start(0, 3001));
    EXPECT_FALSE(track->clockSeconds());
    for (int round = 0; round < 10; ++round) {
        ASSERT_TRUE(track->start(round * 0.3, round % 2 ? 250 : 3000));
        track->setMuted(round % 2 == 0);
        track->stop();
        track->stop();
        EXPECT_FALSE(track->clockSeconds());
    }
    ASSERT_TRUE(track->start(3.99, 1000));
    ASSERT_TRUE(track->start(0, 1000));
    EXPECT_LT(*track->clockSeconds(), 1.0);
    ASSERT_TRUE(track->start(100.0, 1000)); // far past the end: the clock runs on by itself
    EXPECT_GE(*track->clockSeconds(), 100.0);
    track.reset();
    auto other = openTone("adpcm_ima_wav");
    ASSERT_TRUE(other);
    ASSERT_TRUE(other->start(1.0, 2000));
}

// With the default device, whatever this machine has: a real one plays, and where none
// answers (CI) start() still succeeds with the stand-in. Either way the controls work.
TEST(AudioTrackTest, PlaysOnTheDefaultDeviceOrFallsBackToSilence)
{
    video::setSilentAudioOnly(false);
    auto track = openTone();
    ASSERT_TRUE(track);
    ASSERT_TRUE(track->start(0.5, 1000));
    EXPECT_GE(*track->clockSeconds(), 0.5);
    track->setMuted(true);
    ASSERT_TRUE(track->start(1.0, 2000));
    EXPECT_GE(*track->clockSeconds(), 1.0);
    track->stop();
    EXPECT_FALSE(track->clockSeconds());
    EXPECT_FALSE(track->audible());
    ASSERT_TRUE(track->start(2.0, 500));
}
