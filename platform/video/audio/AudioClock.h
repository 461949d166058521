#pragma once

#include <chrono>
#include <cstdint>

namespace video::audio {

using SteadyClock = std::chrono::steady_clock;
using TimePoint = SteadyClock::time_point;

// Where the output is: frames heard by the listener as of a moment.
struct OutputPosition {
    int64_t framesHeard = 0;
    TimePoint at{};
    bool reported = false; // false until the output has said anything
    // Nothing is left to play (the sound has ended): time runs on from here unchecked.
    bool ended = false;
};

// The media time of what is heard, from the output's reports.
//
// Outputs report their position every few milliseconds, and a sound card's position moves in
// steps; between reports the clock runs on at the speed, at most kMaxLead past the last report
// (so that a stalled output stalls the clock), and each reading is pulled gently towards the
// report instead of jumping: readings are continuous and never go back. A reading more than
// kResync behind the output jumps forward (a start, or a long stall of the reader).
// Time points are arguments, so tests drive it by hand.
class AudioClock {
public:
    static constexpr std::chrono::milliseconds kMaxLead{40};
    static constexpr double kResync = 0.25;    // seconds of real time
    static constexpr double kSlewTime = 0.1;   // seconds of real time to close a gap

    void restart(double fromSeconds, int speed, int rate);
    double read(const OutputPosition &position, TimePoint now);

private:
    double target(const OutputPosition &position, TimePoint now) const;

    double m_from = 0;
    double m_factor = 1; // media seconds per second heard
    int m_rate = 48000;
    bool m_hasReading = false;
    double m_last = 0;
    TimePoint m_lastAt{};
};

} // namespace video::audio
