#include "platform/video/audio/SampleQueue.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace video::audio {

SampleQueue::SampleQueue(int channels, int capacityFrames)
    : m_channels(std::max(channels, 1)),
      m_capacity(size_t(std::max(capacityFrames, 1)) * size_t(std::max(channels, 1))),
      m_ring(m_capacity)
{
}

bool SampleQueue::push(const int16_t *samples, int frames)
{
    size_t left = size_t(std::max(frames, 0)) * size_t(m_channels);
    std::unique_lock lock(m_mutex);
    while (left > 0) {
        m_changed.wait(lock, [this] { return m_closed || m_size < m_capacity; });
        if (m_closed)
            return false;
        // Capacity and every push are whole frames, so the room is too.
        size_t n = std::min(left, m_capacity - m_size);
        while (n > 0) {
            const size_t tail = (m_head + m_size) % m_capacity;
            const size_t chunk = std::min(n, m_capacity - tail);
            std::memcpy(m_ring.data() + tail, samples, chunk * sizeof(int16_t));
            samples += chunk;
            m_size += chunk;
            left -= chunk;
            n -= chunk;
        }
        m_changed.notify_all();
    }
    return true;
}

void SampleQueue::finish()
{
    std::lock_guard lock(m_mutex);
    m_finished = true;
    m_changed.notify_all();
}

int SampleQueue::pop(int16_t *out, int maxFrames)
{
    return take(out, maxFrames);
}

int SampleQueue::discard(int maxFrames)
{
    return take(nullptr, maxFrames);
}

int SampleQueue::take(int16_t *out, int maxFrames)
{
    std::lock_guard lock(m_mutex);
    const size_t frames = std::min(size_t(std::max(maxFrames, 0)), m_size / size_t(m_channels));
    size_t n = frames * size_t(m_channels);
    while (n > 0) {
        const size_t chunk = std::min(n, m_capacity - m_head);
        if (out) {
            std::memcpy(out, m_ring.data() + m_head, chunk * sizeof(int16_t));
            out += chunk;
        }
        m_head = (m_head + chunk) % m_capacity;
        m_size -= chunk;
        n -= chunk;
    }
    if (frames > 0)
        m_changed.notify_all();
    return int(frames);
}

void SampleQueue::close()
{
    std::lock_guard lock(m_mutex);
    m_closed = true;
    m_changed.notify_all();
}

int SampleQueue::availableFrames() const
{
    std::lock_guard lock(m_mutex);
    return int(m_size / size_t(m_channels));
}

bool SampleQueue::drained() const
{
    std::lock_guard lock(m_mutex);
    return m_finished && m_size == 0;
}

void SampleQueue::waitFor(int minFrames, int timeoutMs) const
{
    const size_t want = std::min(size_t(std::max(minFrames, 0)) * size_t(m_channels), m_capacity);
    std::unique_lock lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                       [&] { return m_finished || m_closed || m_size >= want; });
}

} // namespace video::audio
