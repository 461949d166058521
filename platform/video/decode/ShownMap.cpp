#include "platform/video/decode/ShownMap.h"

#include <algorithm>
#include <climits>

namespace video {

bool ShownMap::startShows(int startPacket, int position) const
{
    const auto learned = m_firstTrusted.find(startPacket);
    return learned == m_firstTrusted.end() || learned->second <= position;
}

void ShownMap::learnFirst(int startPacket, int slot)
{
    m_firstTrusted[startPacket] = slot;
    if (startPacket == 0)
        std::fill(m_slotAt.begin(), m_slotAt.begin() + std::min(slot, size()), slot);
}

void ShownMap::learnDeadStart(int startPacket)
{
    m_firstTrusted[startPacket] = INT_MAX;
}

void ShownMap::learnShown(int lastSlot, int slot)
{
    // In presentation order a damaged stream may put a picture out before the last one.
    for (int s = lastSlot + 1; lastSlot >= 0 && s < slot; ++s)
        m_slotAt[size_t(s)] = lastSlot;
    m_slotAt[size_t(slot)] = slot;
}

void ShownMap::learnToEnd(int lastSlot)
{
    for (int s = lastSlot + 1; lastSlot >= 0 && s < size(); ++s)
        m_slotAt[size_t(s)] = lastSlot;
}

} // namespace video
