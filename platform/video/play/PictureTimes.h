#pragma once

#include "platform/video/play/PlayPlan.h"

#include <QtGlobal>

#include <vector>

namespace video {

// When each position's picture comes in the file's time, for a play's clock.
//
// Time is counted in frame periods at the file's average rate, so that where the pictures
// keep that rate (every AVI, and most other files) a position's time is the position itself
// and a play's arithmetic is the plain one, exact to the last frame. A phone's variable rate
// gives each picture its own time instead: a picture is on screen from its time until the
// next picture's, forwards; backwards each picture stays for that same length, in reverse
// order.
class PictureTimes {
public:
    // At the average rate.
    PictureTimes() = default;
    // Each picture's time in milliseconds from the first; times that keep the average rate
    // to the millisecond they are given in are taken as that rate, exactly.
    PictureTimes(const std::vector<qint64> &pictureMs, double framesPerSecond);

    bool atAverageRate() const { return m_periods.empty(); }
    // The time of a position's picture; past the last picture each position adds a period.
    double timeOf(int position) const;

    // The ordinal on screen after `progress` periods of the plan (the speed already applied):
    // the position whose time it is, counted from the play's first, one ordinal a picture,
    // laps included.
    qint64 ordinalAt(const PlayPlan &plan, double progress) const;
    // How long one lap of the plan's range takes, its last picture's time included.
    double lapOf(const PlayPlan &plan) const;
    // The file's time, in periods, after `progress` periods of a forward plan.
    double fileTimeAt(const PlayPlan &plan, double progress) const;
    // Laps completed after `progress` periods; always 0 for a plan that does not repeat.
    qint64 cycleAt(const PlayPlan &plan, double progress) const;

private:
    // The last position whose time is at or before `time` (forwards), or before it
    // (backwards), with the slack that keeps a boundary from rounding to the wrong side.
    int atOrBefore(double time) const;
    int before(double time) const;

    std::vector<double> m_periods; // by position; empty at the average rate
};

} // namespace video
