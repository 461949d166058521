#pragma once

#include "platform/video/audio/AudioOutput.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace video::audio {

// Stands in for a sound device where there is none: takes frames at the real-time rate and
// throws them away, so the clock runs as it would with sound. When the queue runs dry before
// the end it waits, as a real device would.
class SilentOutput final : public AudioOutput {
public:
    SilentOutput(SampleQueue &queue, int rate);
    ~SilentOutput() override;

    bool start() override;
    void stop() override;
    void setMuted(bool) override {}
    OutputPosition position() const override;
    bool audible() const override { return false; }

private:
    void run();

    SampleQueue &m_queue;
    const int m_rate;
    std::thread m_thread;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    OutputPosition m_position;
};

} // namespace video::audio
