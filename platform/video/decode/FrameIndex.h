#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_map>
#include <vector>

namespace video {

class IndexReader;
class IndexWriter;

// The file's video chunks, in file order, each with the frame slot it occupies. Null frames
// (zero-size chunks) have a slot but no packet: the demuxer never returns them, so they show
// up only as gaps between the slots of neighbouring packets.
class FrameIndex {
public:
    struct Packet {
        int64_t pos = 0; // byte position of the chunk's payload, as AVPacket::pos gives it
        int size = 0;
        int slot = 0;
        bool keyframe = false;
        int64_t dts = 0; // the container's, where positions come from presentation times
        int64_t pts = INT64_MIN; // likewise; tells apart samples stored once, used twice
    };

    // Packets must come in file order. In an AVI their slots increase strictly; elsewhere a
    // slot is the packet's place in presentation order (-1: never shown), and only the
    // keyframes' slots need increase.
    FrameIndex(std::vector<Packet> packets, int slotCount);
    FrameIndex() = default;

    int slotCount() const { return m_slotCount; }
    int packetCount() const { return int(m_packets.size()); }
    const Packet &packet(int i) const { return m_packets[size_t(i)]; }

    // The packet read from this byte position (and, where one sample's bytes serve several
    // packets, with this pts), or -1.
    int packetAtPos(int64_t pos, int64_t pts = INT64_MIN) const;
    // The last keyframe packet whose slot is at or before `slot` and below `beforePacket`,
    // or -1 when there is none.
    int keyframeAtOrBefore(int slot, int beforePacket) const;
    bool isKeyframeSlot(int slot) const;
    bool everyPacketIsKeyframe() const { return m_keyPackets.size() == m_packets.size(); }
    std::vector<int> keyframeSlots() const;

    // Kept between opens (IndexCache). load() is false, and the index as it was, where what
    // it reads is no index: slots outside the table, sizes of nothing.
    void save(IndexWriter &out) const;
    bool load(IndexReader &in);

private:
    std::vector<Packet> m_packets;
    std::vector<int> m_keyPackets;
    // Where positions do not rise with the packets (bytes used twice): each position's packet.
    // Otherwise a search of the packets themselves finds it, and a long file's index is
    // made (and taken from the index cache) without a table as large as itself.
    std::unordered_map<int64_t, int> m_byPos;
    bool m_rising = true;
    std::map<std::pair<int64_t, int64_t>, int> m_shared; // (pos, pts) of bytes used twice
    int m_slotCount = 0;
};

} // namespace video
