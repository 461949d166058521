#pragma once

#include <QtGlobal>

#include <cstdlib>

namespace video {

// The order in which a play visits positions.
//
// Both threads talk about a play's frames by ordinal: 0 is the first frame of the play and
// each frame period adds one, whatever the direction and however often a repeating range
// wraps. Ordinals only grow, so "late" and "ahead" are plain comparisons, even across a wrap.
struct PlayPlan {
    int from = 0;          // position of ordinal 0
    int to = 0;            // where the play ends (or wraps); from <= to, or from >= to backwards
    bool backward = false;
    bool repeat = false;

    int low() const { return backward ? to : from; }
    int high() const { return backward ? from : to; }
    qint64 span() const { return qint64(high()) - low() + 1; }

    // The ordinal on which a play that does not repeat ends; -1 when it repeats.
    qint64 lastOrdinal() const { return repeat ? -1 : span() - 1; }

    int positionOf(qint64 ordinal) const
    {
        if (repeat)
            ordinal %= span();
        else if (ordinal > span() - 1)
            ordinal = span() - 1;
        return backward ? int(from - ordinal) : int(from + ordinal);
    }

    // How many times the play has wrapped by this ordinal.
    qint64 cycleOf(qint64 ordinal) const { return repeat ? ordinal / span() : 0; }
};

} // namespace video
