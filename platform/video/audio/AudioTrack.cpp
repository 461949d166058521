#include "platform/video/audio/AudioTrack.h"

#include "platform/video/audio/AudioClock.h"
#include "platform/video/audio/AudioDecoder.h"
#include "platform/video/audio/SampleQueue.h"
#include "platform/video/audio/SilentOutput.h"
#include "platform/video/audio/SinkOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QCoreApplication>
#include <QMediaDevices>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace video {

namespace {

std::atomic<bool> g_silentOnly{false};

constexpr int kQueueMs = 500;      // decoded sound kept ready ahead of the output
// Waited for before the output starts: a sound card takes a few hundred milliseconds at once.
constexpr int kPrebufferMs = 300;
constexpr int kPrebufferWaitMs = 400;
constexpr int kPullFrames = 2048;

// The device's own rate and channel count (mono or stereo), as signed 16-bit; invalid when
// the device takes neither that nor 48 kHz stereo.
QAudioFormat chooseFormat(const QAudioDevice &device)
{
    const QAudioFormat preferred = device.preferredFormat();
    QAudioFormat format;
    format.setSampleRate(preferred.sampleRate() > 0 ? preferred.sampleRate() : 48000);
    format.setChannelCount(preferred.channelCount() == 1 ? 1 : 2);
    format.setSampleFormat(QAudioFormat::Int16);
    if (device.isFormatSupported(format))
        return format;
    format.setSampleRate(48000);
    format.setChannelCount(2);
    return device.isFormatSupported(format) ? format : QAudioFormat();
}

class FileAudioTrack final : public AudioTrack {
public:
    explicit FileAudioTrack(std::unique_ptr<audio::AudioDecoder> decoder)
        : m_decoder(std::move(decoder))
    {
        m_decoder->setCancelFlag(&m_stopping);
    }
    ~FileAudioTrack() override { stop(); }

    bool start(double fromSeconds, int speed) override;
    void stop() override;
    void setMuted(bool muted) override;
    std::optional<double> clockSeconds() const override;
    bool audible() const override;

private:
    void decode();

    std::unique_ptr<audio::AudioDecoder> m_decoder; // used by the decoding thread while it runs
    std::unique_ptr<audio::SampleQueue> m_queue;
    std::unique_ptr<audio::AudioOutput> m_output;
    std::thread m_decodeThread;
    std::atomic<bool> m_stopping{false};
    bool m_muted = false;
    bool m_audible = false;

    // clockSeconds() may be asked from any thread; this guards what it reads.
    mutable std::mutex m_clockMutex;
    mutable audio::AudioClock m_clock;
    bool m_playing = false;
};

bool FileAudioTrack::start(double fromSeconds, int speed)
{
    stop();
    if (speed < 250 || speed > 3000 || !std::isfinite(fromSeconds))
        return false;
    fromSeconds = std::max(fromSeconds, 0.0);

    QAudioDevice device;
    QAudioFormat deviceFormat;
    if (!g_silentOnly && QCoreApplication::instance()) {
        device = QMediaDevices::defaultAudioOutput();
        if (!device.isNull())
            deviceFormat = chooseFormat(device);
    }
    audio::OutputFormat format;
    if (deviceFormat.isValid())
        format = {deviceFormat.sampleRate(), deviceFormat.channelCount()};

    m_stopping = false;
    if (!m_decoder->begin(fromSeconds, speed, format, nullptr))
        return false;
    m_queue = std::make_unique<audio::SampleQueue>(format.channels,
                                                   format.rate * kQueueMs / 1000);
    m_decodeThread = std::thread([this] { decode(); });
    m_queue->waitFor(format.rate * kPrebufferMs / 1000, kPrebufferWaitMs);

    {
        std::lock_guard lock(m_clockMutex);
        m_clock.restart(fromSeconds, speed, format.rate);
    }
    // Muted before the first sample goes out: a device takes a few hundred ms at once.
    m_audible = false;
    if (deviceFormat.isValid()) {
        auto sink = std::make_unique<audio::SinkOutput>(*m_queue, device, deviceFormat);
        sink->setMuted(m_muted);
        if (sink->start()) {
            m_output = std::move(sink);
            m_audible = true;
        }
    }
    if (!m_output) {
        m_output = std::make_unique<audio::SilentOutput>(*m_queue, format.rate);
        m_output->setMuted(m_muted);
        m_output->start();
    }

    std::lock_guard lock(m_clockMutex);
    m_playing = true;
    return true;
}

void FileAudioTrack::decode()
{
    // Out of memory the sound ends where it got to; the picture plays on.
    try {
        std::vector<int16_t> buffer(size_t(kPullFrames) * size_t(m_queue->channels()));
        for (;;) {
            const int frames = m_decoder->pull(buffer.data(), kPullFrames);
            if (frames == 0)
                break;
            if (!m_queue->push(buffer.data(), frames))
                return; // stopped
        }
    } catch (const std::bad_alloc &) {
    }
    m_queue->finish();
}

void FileAudioTrack::stop()
{
    {
        std::lock_guard lock(m_clockMutex);
        m_playing = false;
    }
    m_stopping = true;
    if (m_queue)
        m_queue->close();
    if (m_output)
        m_output->stop();
    if (m_decodeThread.joinable())
        m_decodeThread.join();
    m_output.reset();
    m_queue.reset();
    m_audible = false;
}

void FileAudioTrack::setMuted(bool muted)
{
    m_muted = muted;
    if (m_output)
        m_output->setMuted(muted);
}

std::optional<double> FileAudioTrack::clockSeconds() const
{
    std::lock_guard lock(m_clockMutex);
    if (!m_playing)
        return std::nullopt;
    return m_clock.read(m_output->position(), audio::SteadyClock::now());
}

bool FileAudioTrack::audible() const
{
    return m_audible;
}

} // namespace

std::unique_ptr<AudioTrack> openAudioTrack(const QString &path, OpenError *error,
    int videoStreamId)
{
    auto decoder = audio::AudioDecoder::open(path, error, videoStreamId);
    if (!decoder)
        return nullptr;
    return std::make_unique<FileAudioTrack>(std::move(decoder));
}

void setSilentAudioOnly(bool silent)
{
    g_silentOnly = silent;
}

} // namespace video
