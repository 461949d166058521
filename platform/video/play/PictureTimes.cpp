#include "platform/video/play/PictureTimes.h"

#include <algorithm>
#include <cmath>

namespace video {

namespace {

// Times come out of floating-point arithmetic; a hair of slack keeps an exact picture
// boundary from landing one picture early or late through rounding.
constexpr double kEpsilon = 1e-6;

// Times given in whole milliseconds that stay this close to the average rate's are that rate.
constexpr double kAverageRateSlackMs = 1.0;

} // namespace

PictureTimes::PictureTimes(const std::vector<qint64> &pictureMs, double framesPerSecond)
{
    if (pictureMs.empty() || !(framesPerSecond > 0))
        return;
    bool steady = true;
    for (std::size_t n = 0; n < pictureMs.size() && steady; ++n)
        steady = std::abs(double(pictureMs[n]) - double(n) * 1000.0 / framesPerSecond)
            <= kAverageRateSlackMs;
    if (steady)
        return;
    m_periods.reserve(pictureMs.size());
    for (const qint64 ms : pictureMs)
        m_periods.push_back(double(ms) * framesPerSecond / 1000.0);
}

double PictureTimes::timeOf(int position) const
{
    if (atAverageRate() || position < 0)
        return position;
    const qint64 last = qint64(m_periods.size()) - 1;
    return position <= last ? m_periods[std::size_t(position)]
                            : m_periods.back() + double(position - last);
}

int PictureTimes::atOrBefore(double time) const
{
    const double t = time + kEpsilon;
    if (atAverageRate())
        return int(std::floor(t));
    if (t >= m_periods.back())
        return int(m_periods.size()) - 1 + int(std::floor(t - m_periods.back()));
    return int(std::upper_bound(m_periods.begin(), m_periods.end(), t) - m_periods.begin()) - 1;
}

int PictureTimes::before(double time) const
{
    const double t = time - kEpsilon;
    if (atAverageRate())
        return int(std::ceil(t)) - 1;
    if (t > m_periods.back())
        return int(m_periods.size()) - 2 + int(std::ceil(t - m_periods.back()));
    return int(std::lower_bound(m_periods.begin(), m_periods.end(), t) - m_periods.begin()) - 1;
}

double PictureTimes::lapOf(const PlayPlan &plan) const
{
    return timeOf(plan.high() + 1) - timeOf(plan.low());
}

qint64 PictureTimes::cycleAt(const PlayPlan &plan, double progress) const
{
    if (!plan.repeat)
        return 0;
    if (atAverageRate())
        return plan.cycleOf(ordinalAt(plan, progress));
    return qint64(std::floor((std::max(progress, 0.0) + kEpsilon) / lapOf(plan)));
}

qint64 PictureTimes::ordinalAt(const PlayPlan &plan, double progress) const
{
    progress = std::max(progress, 0.0);
    if (atAverageRate())
        return qint64(std::floor(progress + kEpsilon));
    const qint64 cycle = cycleAt(plan, progress);
    const double inLap = std::max(0.0, progress - double(cycle) * lapOf(plan));
    const qint64 ordinal = plan.backward
        ? qint64(plan.from) - before(timeOf(plan.from + 1) - inLap)
        : qint64(atOrBefore(timeOf(plan.from) + inLap)) - plan.from;
    return cycle * plan.span() + std::max<qint64>(ordinal, 0);
}

double PictureTimes::fileTimeAt(const PlayPlan &plan, double progress) const
{
    progress = std::max(progress, 0.0);
    return timeOf(plan.from) + (progress - double(cycleAt(plan, progress)) * lapOf(plan));
}

} // namespace video
