#include "platform/video/audio/QueueDevice.h"
#include "platform/video/audio/SampleQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using video::audio::SampleQueue;

// A producer and a consumer moving many odd-sized blocks through a small ring: every sample
// arrives once, in order, in whole frames; the producer is held back by the bound.
TEST(SampleQueue, CarriesEverySampleInOrderThroughASmallRing)
{
    SampleQueue queue(2, 37);
    const int total = 10007; // frames
    std::thread producer([&] {
        std::vector<int16_t> block;
        int next = 0;
        for (int size = 1; next < total; size = size % 53 + 1) {
            const int n = std::min(size, total - next);
            block.resize(size_t(n) * 2);
            for (int i = 0; i < n; ++i) {
                block[size_t(i) * 2] = int16_t(next + i);
                block[size_t(i) * 2 + 1] = int16_t(-(next + i));
            }
            ASSERT_TRUE(queue.push(block.data(), n));
            next += n;
        }
        queue.finish();
    });
    std::vector<int16_t> got;
    int16_t buffer[2 * 29];
    int maxQueued = 0;
    while (!queue.drained()) {
        maxQueued = std::max(maxQueued, queue.availableFrames());
        const int n = queue.pop(buffer, 29);
        got.insert(got.end(), buffer, buffer + n * 2);
        if (n == 0)
            std::this_thread::yield();
    }
    producer.join();
    ASSERT_EQ(got.size(), size_t(total) * 2);
    for (int i = 0; i < total; ++i) {
        ASSERT_EQ(got[size_t(i) * 2], int16_t(i));
        ASSERT_EQ(got[size_t(i) * 2 + 1], int16_t(-i));
    }
    EXPECT_LE(maxQueued, 37);
}

// Closing frees a producer waiting on a full queue, and refuses what it still brings.
TEST(SampleQueue, CloseReleasesAWaitingProducer)
{
    SampleQueue queue(1, 8);
    std::vector<int16_t> samples(100, 1);
    std::atomic<bool> result{true};
    std::thread producer([&] { result = queue.push(samples.data(), 100); });
    queue.waitFor(8, 5000);
    EXPECT_EQ(queue.availableFrames(), 8);
    queue.close();
    producer.join();
    EXPECT_FALSE(result);
    EXPECT_FALSE(queue.drained()) << "closed is not the end of the sound";
    EXPECT_EQ(queue.discard(100), 8);
}

// What the sound card reads. A dry queue before the end gives silence (a short read stalls
// PulseAudio), and that silence is not counted as sound heard; at the end it gives nothing.
TEST(QueueDevice, StandsInSilenceForADryQueueAndKeepsItOutOfTheCount)
{
    SampleQueue queue(2, 1000);
    std::atomic<bool> muted{false};
    video::audio::QueueDevice device(queue, 4, muted);
    ASSERT_TRUE(device.open(QIODevice::ReadOnly | QIODevice::Unbuffered));
    std::vector<int16_t> sound(200, 7); // 100 frames
    ASSERT_TRUE(queue.push(sound.data(), 100));

    std::vector<int16_t> out(2 * 300, -1);
    // 100 frames of sound, then 200 of silence.
    ASSERT_EQ(device.read(reinterpret_cast<char *>(out.data()), 300 * 4), 300 * 4);
    EXPECT_EQ(out[199], 7);
    EXPECT_EQ(out[200], 0);
    EXPECT_EQ(out[599], 0);

    ASSERT_TRUE(queue.push(sound.data(), 100));
    muted = true;
    ASSERT_EQ(device.read(reinterpret_cast<char *>(out.data()), 50 * 4), 50 * 4);
    EXPECT_EQ(out[0], 0) << "muted";
    muted = false;
    ASSERT_EQ(device.read(reinterpret_cast<char *>(out.data()), 50 * 4), 50 * 4);
    EXPECT_EQ(out[0], 7);

    // Given out: 100 sound, 200 silence, 100 sound; never more counted than was given.
    for (const auto &[within, sound] : {std::pair{50, 50}, {100, 100}, {250, 100}, {300, 100},
             {350, 150}, {400, 200}, {10000, 200}})
        EXPECT_EQ(device.soundFramesWithin(within), sound) << within;

    queue.finish();
    EXPECT_EQ(device.read(reinterpret_cast<char *>(out.data()), 300 * 4), 0) << "the end";
}
