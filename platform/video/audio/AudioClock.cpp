#include "platform/video/audio/AudioClock.h"

#include <algorithm>

namespace video::audio {

void AudioClock::restart(double fromSeconds, int speed, int rate)
{
    m_from = fromSeconds;
    m_factor = speed / 1000.0;
    m_rate = std::max(rate, 1);
    m_hasReading = false;
    m_last = fromSeconds;
    m_lastAt = {};
}

double AudioClock::target(const OutputPosition &position, TimePoint now) const
{
    // Before the first sample is heard there is nothing to run on from: a device takes its
    // latency to start.
    if (!position.reported || (position.framesHeard == 0 && !position.ended))
        return m_from;
    auto since = std::max(now - position.at, SteadyClock::duration::zero());
    if (!position.ended)
        since = std::min<SteadyClock::duration>(since, kMaxLead);
    const double heard = double(position.framesHeard) / m_rate
                         + std::chrono::duration<double>(since).count();
    return m_from + heard * m_factor;
}

double AudioClock::read(const OutputPosition &position, TimePoint now)
{
    const double goal = target(position, now);
    if (!m_hasReading) {
        m_hasReading = true;
        m_last = std::max(goal, m_from);
        m_lastAt = now;
        return m_last;
    }
    const double dt = std::chrono::duration<double>(std::max(now - m_lastAt,
                                                             SteadyClock::duration::zero()))
                          .count();
    const double predicted = m_last + dt * m_factor;
    const double error = goal - predicted;
    double value;
    if (goal <= m_last)
        value = m_last; // ahead of the output (it stalled): wait for it
    else if (error > kResync * m_factor)
        value = goal;
    else
        value = predicted + error * std::min(1.0, dt / kSlewTime);
    m_last = std::max(value, m_last);
    m_lastAt = std::max(now, m_lastAt);
    return m_last;
}

} // namespace video::audio
