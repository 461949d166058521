#include "platform/video/decode/FrameIndex.h"

#include <algorithm>

namespace video {

FrameIndex::FrameIndex(std::vector<Packet> packets, int slotCount)
    : m_packets(std::move(packets)), m_slotCount(slotCount)
{
    m_byPos.reserve(m_packets.size());
    for (int i = 0; i < int(m_packets.size()); ++i) {
        const Packet &p = m_packets[size_t(i)];
        const auto [first, fresh] = m_byPos.emplace(p.pos, i);
        if (!fresh) {
            const Packet &earlier = m_packets[size_t(first->second)];
            m_shared.emplace(std::make_pair(earlier.pos, earlier.pts), first->second);
            m_shared.emplace(std::make_pair(p.pos, p.pts), i);
        }
        if (m_packets[size_t(i)].keyframe)
            m_keyPackets.push_back(i);
    }
}

int FrameIndex::packetAtPos(int64_t pos, int64_t pts) const
{
    if (!m_shared.empty()) {
        const auto shared = m_shared.find(std::make_pair(pos, pts));
        if (shared != m_shared.end())
            return shared->second;
    }
    const auto it = m_byPos.find(pos);
    return it == m_byPos.end() ? -1 : it->second;
}

int FrameIndex::keyframeAtOrBefore(int slot, int beforePacket) const
{
    // m_keyPackets is sorted by packet number and so by slot.
    auto it = std::upper_bound(m_keyPackets.begin(), m_keyPackets.end(), slot,
        [this](int s, int packetIndex) { return s < m_packets[size_t(packetIndex)].slot; });
    while (it != m_keyPackets.begin()) {
        --it;
        if (*it < beforePacket)
            return *it;
    }
    return -1;
}

bool FrameIndex::isKeyframeSlot(int slot) const
{
    auto it = std::lower_bound(m_keyPackets.begin(), m_keyPackets.end(), slot,
        [this](int packetIndex, int s) { return m_packets[size_t(packetIndex)].slot < s; });
    return it != m_keyPackets.end() && m_packets[size_t(*it)].slot == slot;
}

std::vector<int> FrameIndex::keyframeSlots() const
{
    std::vector<int> slots;
    slots.reserve(m_keyPackets.size());
    for (int p : m_keyPackets)
        slots.push_back(m_packets[size_t(p)].slot);
    return slots;
}

} // namespace video
