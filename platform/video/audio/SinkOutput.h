#pragma once

#include "platform/video/audio/AudioOutput.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QThread>
#include <atomic>
#include <memory>
#include <mutex>

namespace video::audio {

class SinkWorker;

// Plays the queue on a sound device through QAudioSink.
//
// The sink lives on a thread of its own with its own event loop: in pull mode QAudioSink
// fetches data from a timer on its thread, and a busy user-interface thread must not make the
// sound stutter. Control calls wait for that thread briefly (start and stop only).
class SinkOutput final : public AudioOutput {
public:
    SinkOutput(SampleQueue &queue, const QAudioDevice &device, const QAudioFormat &format);
    ~SinkOutput() override;

    bool start() override;
    void stop() override;
    void setMuted(bool muted) override;
    OutputPosition position() const override;
    bool audible() const override { return true; }

    // State shared with the worker on the sink's thread.
    struct Shared {
        Shared(SampleQueue &q, int r, int b) : queue(q), rate(r), bytesPerFrame(b) {}
        SampleQueue &queue;
        int rate;
        int bytesPerFrame;
        std::atomic<bool> muted{false};
        mutable std::mutex mutex;
        OutputPosition position;
    };

private:
    QAudioDevice m_device;
    QAudioFormat m_format;
    Shared m_shared;
    std::unique_ptr<QThread> m_thread;
    SinkWorker *m_worker = nullptr; // lives on m_thread; deleted after it ends
};

} // namespace video::audio
