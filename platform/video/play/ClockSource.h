#pragma once

#include "platform/video/play/PlaybackClock.h"

#include <atomic>
#include <chrono>

namespace video {

// Where the device reads "now" from: the real steady clock, or a hand-driven one in tests.
class ClockSource {
public:
    virtual ~ClockSource() = default;
    virtual SteadyTime now() const = 0;
};

class SteadyClockSource final : public ClockSource {
public:
    SteadyTime now() const override { return std::chrono::steady_clock::now(); }
};

// Time moves only when advance() is called. Thread-safe, so that a test's fake decoder may
// spend time on the decode thread.
class ManualClock final : public ClockSource {
public:
    SteadyTime now() const override
    {
        return SteadyTime(SteadyTime::duration(m_ticks.load()));
    }
    void advance(std::chrono::nanoseconds by)
    {
        m_ticks.fetch_add(std::chrono::duration_cast<SteadyTime::duration>(by).count());
    }

private:
    std::atomic<SteadyTime::rep> m_ticks{SteadyTime::duration(std::chrono::hours(1)).count()};
};

} // namespace video
