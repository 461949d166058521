#include "platform/video/decode/FrameIndex.h"

#include "platform/video/decode/IndexCache.h"

#include <algorithm>

namespace video {

FrameIndex::FrameIndex(std::vector<Packet> packets, int slotCount)
    : m_packets(std::move(packets)), m_slotCount(slotCount)
{
    for (size_t i = 1; i < m_packets.size() && m_rising; ++i)
        m_rising = m_packets[i - 1].pos < m_packets[i].pos;
    if (!m_rising)
        m_byPos.reserve(m_packets.size());
    for (int i = 0; i < int(m_packets.size()); ++i) {
        const Packet &p = m_packets[size_t(i)];
        if (!m_rising) {
            const auto [first, fresh] = m_byPos.emplace(p.pos, i);
            if (!fresh) {
                const Packet &earlier = m_packets[size_t(first->second)];
                m_shared.emplace(std::make_pair(earlier.pos, earlier.pts), first->second);
                m_shared.emplace(std::make_pair(p.pos, p.pts), i);
            }
        }
        if (p.keyframe)
            m_keyPackets.push_back(i);
    }
}

int FrameIndex::packetAtPos(int64_t pos, int64_t pts) const
{
    if (m_rising) {
        const auto it = std::lower_bound(m_packets.begin(), m_packets.end(), pos,
            [](const Packet &p, int64_t at) { return p.pos < at; });
        return it != m_packets.end() && it->pos == pos ? int(it - m_packets.begin()) : -1;
    }
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
    std::vector<int> keySlots;
    keySlots.reserve(m_keyPackets.size());
    for (int p : m_keyPackets)
        keySlots.push_back(m_packets[size_t(p)].slot);
    return keySlots;
}

namespace {
constexpr uint64_t kKeyframe = 1;
constexpr uint64_t kHasPts = 2;
} // namespace

void FrameIndex::save(IndexWriter &out) const
{
    out.number(uint64_t(m_slotCount));
    out.number(m_packets.size());
    const Packet *before = nullptr;
    for (const Packet &p : m_packets) {
        const bool hasPts = p.pts != INT64_MIN;
        out.number((p.keyframe ? kKeyframe : 0) | (hasPts ? kHasPts : 0));
        out.number(uint64_t(p.size));
        out.difference(p.pos, before ? before->pos : 0);
        out.difference(p.slot, before ? before->slot : 0);
        out.difference(p.dts, before ? before->dts : 0);
        if (hasPts)
            out.difference(p.pts, p.dts);
        before = &p;
    }
}

bool FrameIndex::load(IndexReader &in)
{
    const uint64_t slotCount = in.number();
    // Each packet takes five bytes at least.
    const int count = in.count(5);
    if (!in.ok() || slotCount > uint64_t(INT32_MAX) || count == 0)
        return false;
    std::vector<Packet> packets;
    packets.reserve(static_cast<size_t>(count)); // written once, not cleared first
    Packet before;
    for (int i = 0; i < count; ++i) {
        Packet p;
        const uint64_t flags = in.number();
        const uint64_t size = in.number();
        p.keyframe = flags & kKeyframe;
        p.size = int(size);
        p.pos = in.difference(before.pos);
        const int64_t slot = in.difference(before.slot);
        p.slot = int(slot);
        p.dts = in.difference(before.dts);
        p.pts = flags & kHasPts ? in.difference(p.dts) : INT64_MIN;
        if (!in.ok() || flags > (kKeyframe | kHasPts) || size == 0 || size > uint64_t(INT32_MAX) ||
            p.pos < 0 || slot < -1 || slot >= int64_t(slotCount))
            return false;
        packets.push_back(p);
        before = p;
    }
    *this = FrameIndex(std::move(packets), int(slotCount));
    return true;
}

} // namespace video
