#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

namespace video::audio {

// A bounded queue of interleaved s16 frames from the decoding thread to the output.
// push() waits while the queue is full; the consumer side never waits.
class SampleQueue {
public:
    SampleQueue(int channels, int capacityFrames);

    // Producer: waits for room; false once the queue is closed (the samples are dropped).
    bool push(const int16_t *samples, int frames);
    // Producer: nothing more will come.
    void finish();

    // Consumer: up to maxFrames frames, without waiting; returns how many.
    int pop(int16_t *out, int maxFrames);
    // Consumer: drops up to maxFrames frames as if played; returns how many.
    int discard(int maxFrames);

    // Wakes and refuses the producer; used to stop.
    void close();

    int channels() const { return m_channels; }
    int availableFrames() const;
    // Finished and empty: everything there was has been taken.
    bool drained() const;
    // Waits until at least minFrames are queued or the producer has finished, or the timeout.
    void waitFor(int minFrames, int timeoutMs) const;

private:
    int take(int16_t *out, int maxFrames);

    const int m_channels;
    const size_t m_capacity; // in samples
    std::vector<int16_t> m_ring;
    size_t m_head = 0; // next sample to read
    size_t m_size = 0; // samples queued
    bool m_finished = false;
    bool m_closed = false;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
};

} // namespace video::audio
