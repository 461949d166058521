#include "platform/video/decode/DecodeRun.h"

#include "platform/video/FFmpegHandles.h"

#include <algorithm>
#include <climits>

namespace video {

void DecodeRun::skipping(int slot)
{
    // A skipped picture may be shown between the last picture learnt and the next: the slots
    // in between are not all the last one's.
    m_lastTrusted = -1;
    // A picture is shown at or before the slot of its packet in an AVI (it comes out after it
    // or with it); elsewhere the slot is where it is shown.
    m_skipHorizon = std::max(m_skipHorizon, slot);
}

int DecodeRun::slotOf(const Out &frame, int delay)
{
    if (m_byTime) {
        // -1: decoded only to decode others (an edit list's pre-roll, a second field)
        return frame.pts >= 0 && frame.pts < m_index->packetCount()
            ? m_index->packet(int(frame.pts)).slot
            : -1;
    }
    // Counting on from the last picture out instead of from the packets would be wrong
    // whenever the decoder dropped one (the B-frames of an open GOP at the start of a run):
    // the keyframe just before the end would take the run's first slot.
    int64_t dts = frame.dts;
    if (dts == AV_NOPTS_VALUE && m_flushDts >= 0)
        dts = m_flushDts++;
    if (dts != AV_NOPTS_VALUE) {
        const int64_t fromDts = dts - delay;
        if (fromDts > m_lastOut && fromDts < INT32_MAX)
            return int(fromDts);
    }
    return m_lastOut + 1;
}

bool DecodeRun::trusts(const Out &frame)
{
    if (m_trusted)
        return true;
    // Outside AVI a file may start in the middle of a GOP (a cut transport stream). A keyframe
    // that is decoded but never shown (an edit list's pre-roll) never comes out of the
    // decoder: what follows it is what it starts.
    const bool hiddenStart = m_byTime && m_start >= 0 && m_index->packet(m_start).slot < 0;
    // From the start of the file, everything a plain decode shows is a position (the lead in
    // was measured so), damaged pictures before the first keyframe included.
    if (!frame.key && !hiddenStart && m_start != 0)
        return false;
    m_trusted = true;
    m_firstPending = true;
    return true;
}

int DecodeRun::onFrame(const Out &frame, int delay, ShownMap &shown)
{
    const int slot = slotOf(frame, delay);
    if (slot >= 0)
        m_lastOut = slot;
    // An edit list's pre-roll, keyframe included, is decoded and never shown.
    if (!trusts(frame) || slot < 0)
        return -1;
    if (m_firstPending) {
        m_firstPending = false;
        shown.learnFirst(m_start, slot);
    }
    if (slot >= shown.size() || slot <= m_skipHorizon)
        return -1;
    shown.learnShown(m_lastTrusted, slot);
    m_lastTrusted = slot;
    return slot;
}

void DecodeRun::finish(ShownMap &shown)
{
    if ((!m_trusted || m_firstPending) && m_start >= 0)
        shown.learnDeadStart(m_start);
    if (m_trusted)
        shown.learnToEnd(m_lastTrusted);
    *this = DecodeRun();
}

} // namespace video
