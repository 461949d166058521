#include "platform/video/audio/QueueDevice.h"

#include "platform/video/audio/SampleQueue.h"

#include <algorithm>
#include <cstring>

namespace video::audio {

QueueDevice::QueueDevice(SampleQueue &queue, int bytesPerFrame, const std::atomic<bool> &muted)
    : m_queue(queue), m_bytesPerFrame(std::max(bytesPerFrame, 1)), m_muted(muted)
{
}

qint64 QueueDevice::bytesAvailable() const
{
    return qint64(m_queue.availableFrames()) * m_bytesPerFrame + QIODevice::bytesAvailable();
}

int64_t QueueDevice::soundFramesWithin(int64_t played)
{
    played = std::clamp<int64_t>(played, 0, m_given);
    while (!m_gaps.empty() && m_gaps.front().start + m_gaps.front().length <= played) {
        m_silencePassed += m_gaps.front().length;
        m_gaps.pop_front();
    }
    int64_t silence = m_silencePassed;
    if (!m_gaps.empty() && m_gaps.front().start < played)
        silence += played - m_gaps.front().start;
    return played - silence;
}

qint64 QueueDevice::readData(char *data, qint64 maxSize)
{
    const int frames = int(std::min<qint64>(maxSize / m_bytesPerFrame, 1 << 20));
    const int got = m_queue.pop(reinterpret_cast<int16_t *>(data), frames);
    if (m_muted.load())
        std::memset(data, 0, size_t(got) * size_t(m_bytesPerFrame));
    int given = got;
    if (got < frames && !m_queue.drained()) {
        const int pad = frames - got;
        std::memset(data + qint64(got) * m_bytesPerFrame, 0,
                    size_t(pad) * size_t(m_bytesPerFrame));
        m_gaps.push_back({m_given + got, pad});
        given = frames;
    }
    m_given += given;
    return qint64(given) * m_bytesPerFrame;
}

} // namespace video::audio
