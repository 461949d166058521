#pragma once

#include <chrono>

namespace video {

using SteadyTime = std::chrono::steady_clock::time_point;

// Where a play stands, in frame periods of the file's time, as a function of time.
//
// A value class: it never reads a clock itself; every question and every change takes the
// time point it applies to. The position moves from an anchor at `rate` frames per second
// in the direction given. Changing the rate or the direction first re-anchors at the time
// of the change, so the position is continuous across changes.
class PlaybackClock {
public:
    enum class Direction { Forward, Backward };

    PlaybackClock() = default;
    PlaybackClock(SteadyTime now, double position, double framesPerSecond, Direction direction)
        : m_anchorTime(now)
        , m_anchorPosition(position)
        , m_rate(framesPerSecond)
        , m_direction(direction)
    {
    }

    double positionAt(SteadyTime now) const
    {
        const double elapsed = std::chrono::duration<double>(now - m_anchorTime).count();
        const double moved = elapsed * m_rate;
        return m_direction == Direction::Forward ? m_anchorPosition + moved
                                                 : m_anchorPosition - moved;
    }

    void setRate(SteadyTime now, double framesPerSecond)
    {
        reanchor(now, positionAt(now));
        m_rate = framesPerSecond;
    }

    void setDirection(SteadyTime now, Direction direction)
    {
        reanchor(now, positionAt(now));
        m_direction = direction;
    }

    // Put the position somewhere else from now on (a jump, or following another clock).
    void reanchor(SteadyTime now, double position)
    {
        m_anchorTime = now;
        m_anchorPosition = position;
    }

    double rate() const { return m_rate; }
    Direction direction() const { return m_direction; }

    // When the clock reaches `position`, given it lies ahead in the direction of travel and
    // the rate is not zero.
    SteadyTime timeOf(double position) const
    {
        const double distance = m_direction == Direction::Forward ? position - m_anchorPosition
                                                                  : m_anchorPosition - position;
        return m_anchorTime
            + std::chrono::duration_cast<SteadyTime::duration>(
                std::chrono::duration<double>(distance / m_rate));
    }

private:
    SteadyTime m_anchorTime{};
    double m_anchorPosition = 0.0;
    double m_rate = 0.0;
    Direction m_direction = Direction::Forward;
};

} // namespace video
