#include "platform/video/audio/SinkOutput.h"

#include "platform/video/audio/QueueDevice.h"
#include "platform/video/audio/SampleQueue.h"

#include <QAudioSink>
#include <QTimer>
#include <algorithm>

namespace video::audio {

namespace {

constexpr int kPollMs = 10;

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
        m_io = std::make_unique<QueueDevice>(m_shared.queue, m_shared.bytesPerFrame,
                                             m_shared.muted);
        // Unbuffered: QIODevice would otherwise read ahead 16 KB, padding silence and delaying
        // a mute.
        m_io->open(QIODevice::ReadOnly | QIODevice::Unbuffered);
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

} // namespace video::audio
