#include "platform/avi/audio/SinkOutput.h"

#include "platform/avi/audio/SampleQueue.h"

#include <QAudioSink>
#include <QIODevice>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <deque>

namespace avi::audio {

namespace {

constexpr int kPollMs = 10;

// What the sink reads: the queue, silenced while muted. Never blocks. When the queue runs dry
// before the end of the sound it gives silence instead of nothing (a short read makes
// PulseAudio stop the stream and refill for about a second), and remembers where, so that the
// silence is not taken for sound heard.
class QueueDevice final : public QIODevice {
public:
    explicit QueueDevice(SinkOutput::Shared &shared) : m_shared(shared) {}

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return qint64(m_shared.queue.availableFrames()) * m_shared.bytesPerFrame
               + QIODevice::bytesAvailable();
    }

    // Frames of sound (not stand-in silence) among the first `played` frames given out.
    int64_t soundFramesWithin(int64_t played)
    {
        played = std::min(played, m_given);
        while (!m_gaps.empty() && m_gaps.front().start + m_gaps.front().length <= played) {
            m_silencePassed += m_gaps.front().length;
            m_gaps.pop_front();
        }
        int64_t silence = m_silencePassed;
        if (!m_gaps.empty() && m_gaps.front().start < played)
            silence += played - m_gaps.front().start;
        return played - silence;
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const int frames = int(std::min<qint64>(maxSize / m_shared.bytesPerFrame, 1 << 20));
        const int got = m_shared.queue.pop(reinterpret_cast<int16_t *>(data), frames);
        if (m_shared.muted.load())
            std::memset(data, 0, size_t(got) * size_t(m_shared.bytesPerFrame));
        int given = got;
        if (got < frames && !m_shared.queue.drained()) {
            const int pad = frames - got;
            std::memset(data + qint64(got) * m_shared.bytesPerFrame, 0,
                        size_t(pad) * size_t(m_shared.bytesPerFrame));
            m_gaps.push_back({m_given + got, pad});
            given = frames;
        }
        m_given += given;
        return qint64(given) * m_shared.bytesPerFrame;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    struct Gap {
        int64_t start;
        int64_t length;
    };
    SinkOutput::Shared &m_shared;
    int64_t m_given = 0; // frames handed to the sink, sound and silence
    std::deque<Gap> m_gaps;
    int64_t m_silencePassed = 0;
};

} // namespace

// Everything that touches the QAudioSink, on the sink's thread.
class SinkWorker final : public QObject {
public:
    explicit SinkWorker(SinkOutput::Shared &shared) : m_shared(shared) {}

    bool open(const QAudioDevice &device, const QAudioFormat &format)
    {
        // The sink's own buffer size: a set one (150 or 400 ms) made PulseAudio stall for
        // about a second after the first tenth of a second.
        m_sink = std::make_unique<QAudioSink>(device, format);
        m_io = std::make_unique<QueueDevice>(m_shared);
        m_io->open(QIODevice::ReadOnly);
        m_sink->start(m_io.get());
        if (m_sink->error() != QAudio::NoError || m_sink->state() == QAudio::StoppedState) {
            close();
            return false;
        }
        m_timer = std::make_unique<QTimer>();
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer.get(), &QTimer::timeout, m_timer.get(), [this] { poll(); });
        m_timer->start(kPollMs);
        poll();
        return true;
    }

    void close()
    {
        m_timer.reset();
        if (m_sink)
            m_sink->stop();
        m_sink.reset();
        m_io.reset();
    }

private:
    void poll()
    {
        if (!m_sink)
            return;
        // processedUSecs() is the stream's playback time (PulseAudio's, latency included):
        // what has reached the listener.
        const int64_t played = int64_t(m_sink->processedUSecs()) * m_shared.rate / 1000000;
        const int64_t heard = m_io->soundFramesWithin(played);
        const bool drained = m_shared.queue.drained();
        std::lock_guard lock(m_shared.mutex);
        if (m_shared.position.ended)
            return;
        m_shared.position = OutputPosition{heard, SteadyClock::now(), true, drained};
    }

    SinkOutput::Shared &m_shared;
    std::unique_ptr<QAudioSink> m_sink;
    std::unique_ptr<QueueDevice> m_io;
    std::unique_ptr<QTimer> m_timer;
};

SinkOutput::SinkOutput(SampleQueue &queue, const QAudioDevice &device, const QAudioFormat &format)
    : m_device(device),
      m_format(format),
      m_shared(queue, format.sampleRate(), format.bytesPerFrame())
{
}

SinkOutput::~SinkOutput()
{
    stop();
}

bool SinkOutput::start()
{
    if (m_thread)
        return true;
    if (m_format.bytesPerFrame() <= 0 || m_format.sampleRate() <= 0)
        return false;
    m_thread = std::make_unique<QThread>();
    m_thread->setObjectName(QStringLiteral("kurimo-audio-out"));
    m_thread->start(QThread::TimeCriticalPriority);
    m_worker = new SinkWorker(m_shared);
    m_worker->moveToThread(m_thread.get());
    bool ok = false;
    QMetaObject::invokeMethod(
        m_worker, [&] { ok = m_worker->open(m_device, m_format); },
        Qt::BlockingQueuedConnection);
    if (!ok)
        stop();
    return ok;
}

void SinkOutput::stop()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(m_worker, [this] { m_worker->close(); },
                              Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_worker;
    m_worker = nullptr;
    m_thread.reset();
}

void SinkOutput::setMuted(bool muted)
{
    m_shared.muted = muted;
}

OutputPosition SinkOutput::position() const
{
    std::lock_guard lock(m_shared.mutex);
    return m_shared.position;
}

} // namespace avi::audio
