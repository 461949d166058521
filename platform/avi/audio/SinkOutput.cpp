#include "platform/avi/audio/SinkOutput.h"

#include "platform/avi/audio/SampleQueue.h"

#include <QAudioSink>
#include <QIODevice>
#include <QTimer>
#include <algorithm>
#include <cstring>

namespace avi::audio {

namespace {

// How much the sink holds ahead of the listener: the delay of a mute, and the margin
// against a busy machine.
constexpr int kBufferMs = 150;
constexpr int kPollMs = 10;

// What the sink reads: the queue, silenced while muted. Never blocks: a dry queue gives
// nothing and the sink waits, as it does for any slow source.
class QueueDevice final : public QIODevice {
public:
    explicit QueueDevice(SinkOutput::Shared &shared) : m_shared(shared) {}

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override
    {
        return qint64(m_shared.queue.availableFrames()) * m_shared.bytesPerFrame
               + QIODevice::bytesAvailable();
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override
    {
        const int frames = int(std::min<qint64>(maxSize / m_shared.bytesPerFrame, 1 << 20));
        const int got = m_shared.queue.pop(reinterpret_cast<int16_t *>(data), frames);
        const qint64 bytes = qint64(got) * m_shared.bytesPerFrame;
        if (m_shared.muted.load())
            std::memset(data, 0, size_t(bytes));
        m_shared.delivered += got;
        return bytes;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    SinkOutput::Shared &m_shared;
};

} // namespace

// Everything that touches the QAudioSink, on the sink's thread.
class SinkWorker final : public QObject {
public:
    explicit SinkWorker(SinkOutput::Shared &shared) : m_shared(shared) {}

    bool open(const QAudioDevice &device, const QAudioFormat &format)
    {
        m_sink = std::make_unique<QAudioSink>(device, format);
        m_sink->setBufferSize(format.bytesForDuration(kBufferMs * 1000));
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
        // processedUSecs() is the stream's playback time: what has reached the listener.
        const int64_t played = int64_t(m_sink->processedUSecs()) * m_shared.rate / 1000000;
        const int64_t heard = std::min(played, m_shared.delivered.load());
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
