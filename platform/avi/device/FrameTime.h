#pragma once

#include <QtGlobal>

namespace avi {

// Frames <-> milliseconds at a frame rate of num/den, one rounding rule both ways (to the
// nearest, halves away from zero), so that frame -> ms -> frame gives the frame back for
// any rate under 1000 frames per second.
class FrameTime {
public:
    FrameTime(int rateNum, int rateDen)
        : m_num(rateNum > 0 && rateDen > 0 ? rateNum : 25)
        , m_den(rateNum > 0 && rateDen > 0 ? rateDen : 1)
    {
    }

    qint64 toMilliseconds(qint64 frame) const
    {
        return divideRounded(frame * 1000 * m_den, m_num);
    }
    qint64 toFrames(qint64 milliseconds) const
    {
        return divideRounded(milliseconds * m_num, qint64(1000) * m_den);
    }
    // Frames per second times 1000, as a whole number.
    qint64 rateTimes1000() const { return divideRounded(qint64(m_num) * 1000, m_den); }

private:
    static qint64 divideRounded(qint64 value, qint64 divisor)
    {
        return value >= 0 ? (value + divisor / 2) / divisor : -((-value + divisor / 2) / divisor);
    }

    qint64 m_num;
    qint64 m_den;
};

} // namespace avi
