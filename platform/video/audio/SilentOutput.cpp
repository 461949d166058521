#include "platform/video/audio/SilentOutput.h"

#include "platform/video/audio/SampleQueue.h"

namespace video::audio {

namespace {
constexpr std::chrono::milliseconds kTick{5};
}

SilentOutput::SilentOutput(SampleQueue &queue, int rate) : m_queue(queue), m_rate(rate) {}

SilentOutput::~SilentOutput()
{
    stop();
}

bool SilentOutput::start()
{
    if (m_thread.joinable())
        return true;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = false;
        m_position = OutputPosition{0, SteadyClock::now(), true, false};
    }
    m_thread = std::thread([this] { run(); });
    return true;
}

void SilentOutput::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_wake.notify_all();
    }
    if (m_thread.joinable())
        m_thread.join();
}

OutputPosition SilentOutput::position() const
{
    std::lock_guard lock(m_mutex);
    return m_position;
}

void SilentOutput::run()
{
    TimePoint last = SteadyClock::now();
    double owed = 0; // frames due but not yet taken
    int64_t taken = 0;
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, kTick, [this] { return m_stopping; });
        if (m_stopping)
            break;
        const TimePoint now = SteadyClock::now();
        owed += std::chrono::duration<double>(now - last).count() * m_rate;
        last = now;
        const int want = int(owed);
        lock.unlock();
        const int got = m_queue.discard(want);
        const bool drained = m_queue.drained();
        lock.lock();
        taken += got;
        // A dry queue costs time, as a sound card that runs out waits for more.
        owed = got < want ? 0 : owed - got;
        if (m_position.ended)
            continue;
        m_position.framesHeard = taken;
        m_position.at = now;
        m_position.ended = drained;
    }
}

} // namespace video::audio
