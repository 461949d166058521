#include "platform/avi/audio/SampleQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <numeric>
#include <thread>
#include <vector>

using avi::audio::SampleQueue;

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
