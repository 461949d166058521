#pragma once

#include <QIODevice>
#include <atomic>
#include <cstdint>
#include <deque>

namespace video::audio {

class SampleQueue;

// What a QAudioSink reads: the queue, silenced while muted. Never blocks. When the queue runs
// dry before the end of the sound it gives silence instead of nothing (a short read makes
// PulseAudio stop the stream and refill for about a second), and remembers where, so that the
// silence is not taken for sound heard. Used on the sink's thread only.
class QueueDevice final : public QIODevice {
public:
    QueueDevice(SampleQueue &queue, int bytesPerFrame, const std::atomic<bool> &muted);

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

    // Frames of sound (not stand-in silence) among the first `played` frames given out.
    // `played` must not go back between calls.
    int64_t soundFramesWithin(int64_t played);

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    struct Gap {
        int64_t start;
        int64_t length;
    };
    SampleQueue &m_queue;
    const int m_bytesPerFrame;
    const std::atomic<bool> &m_muted;
    int64_t m_given = 0; // frames handed out, sound and silence
    std::deque<Gap> m_gaps;
    int64_t m_silencePassed = 0;
};

} // namespace video::audio
