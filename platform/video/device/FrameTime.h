#pragma once

#include <QtGlobal>

#include <algorithm>
#include <memory>
#include <vector>

namespace video {

// Frames <-> milliseconds at a frame rate of num/den, one rounding rule both ways (to the
// nearest, halves away from zero), so that frame -> ms -> frame gives the frame back for
// any rate under 1000 frames per second.
//
// A file whose pictures carry times of their own (a phone's variable rate) gives them instead:
// a frame is its picture's time, a time is the picture on screen then, and the end is the
// last picture's time plus an average picture's length.
class FrameTime {
public:
    FrameTime(int rateNum, int rateDen, std::vector<qint64> pictureMs = {})
        : m_num(rateNum > 0 && rateDen > 0 ? rateNum : 25)
        , m_den(rateNum > 0 && rateDen > 0 ? rateDen : 1)
        , m_pictureMs(std::make_shared<const std::vector<qint64>>(std::move(pictureMs)))
    {
    }

    qint64 toMilliseconds(qint64 frame) const
    {
        const std::vector<qint64> &ms = *m_pictureMs;
        if (ms.empty() || frame < 0)
            return divideRounded(frame * 1000 * m_den, m_num);
        if (frame < qint64(ms.size()))
            return ms[size_t(frame)];
        return ms.back() + divideRounded((frame - qint64(ms.size()) + 1) * 1000 * m_den, m_num);
    }
    qint64 toFrames(qint64 milliseconds) const
    {
        const std::vector<qint64> &ms = *m_pictureMs;
        if (ms.empty() || milliseconds < 0)
            return toFramesAtRate(milliseconds);
        if (milliseconds >= toMilliseconds(qint64(ms.size())))
            return qint64(ms.size()) + toFramesAtRate(milliseconds - toMilliseconds(qint64(ms.size())));
        const auto after = std::upper_bound(ms.begin(), ms.end(), milliseconds);
        return std::max<qint64>(0, qint64(after - ms.begin()) - 1);
    }
    // Frames per second times 1000, as a whole number.
    qint64 rateTimes1000() const { return divideRounded(qint64(m_num) * 1000, m_den); }

private:
    qint64 toFramesAtRate(qint64 milliseconds) const
    {
        return divideRounded(milliseconds * m_num, qint64(1000) * m_den);
    }
    static qint64 divideRounded(qint64 value, qint64 divisor)
    {
        return value >= 0 ? (value + divisor / 2) / divisor : -((-value + divisor / 2) / divisor);
    }

    qint64 m_num;
    qint64 m_den;
    std::shared_ptr<const std::vector<qint64>> m_pictureMs; // shared: devices copy it
};

} // namespace video
