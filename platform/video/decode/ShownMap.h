#pragma once

#include <cstddef>
#include <unordered_map>
#include <vector>

namespace video {

// What is shown where: per position, the slot of the picture shown there, as the runs learn it.
//
// Slots only grow in display order, so once a picture with a slot beyond p has come out, the
// picture shown at p is known: the last one at or before p (a null frame, or a slot whose
// picture the decoder never shows, repeats the one before). The picture itself is kept in the
// cache under its slot; this map only says which slot a position needs.
//
// Where runs may start. A run from a keyframe trusts nothing until a keyframe comes out of the
// decoder (open GOPs: B-pictures just before a keyframe in display order follow it in the file
// and need the previous GOP). The first trusted slot of each start is kept here; a position
// before it is decoded from the keyframe before (`startShows`).
class ShownMap {
public:
    static constexpr int kUnknown = -1;

    explicit ShownMap(int positions = 0) { forget(positions); }

    // Nothing known, over this many positions (the file's count, once its lead-in is known).
    void forget(int positions)
    {
        m_slotAt.assign(std::size_t(positions > 0 ? positions : 0), kUnknown);
    }

    int size() const { return int(m_slotAt.size()); }
    bool empty() const { return m_slotAt.empty(); }
    // The slot shown at this position, or kUnknown.
    int at(int position) const { return m_slotAt[std::size_t(position)]; }

    // Whether a run from this start shows the position: its first trusted slot is at or
    // before it, or not yet known.
    bool startShows(int startPacket, int position) const;
    // Whether a run from this start has been through its first trusted slot.
    bool startKnown(int startPacket) const { return m_firstTrusted.count(startPacket) != 0; }

    // The first trusted picture of a run from this start. Before a file's first picture
    // (start 0) there is nothing else to show.
    void learnFirst(int startPacket, int slot);
    // A start that gave no keyframe before the end (a keyframe flag on a chunk that holds none,
    // like the empty VOP Xvid flags after its keyframes): never used again.
    void learnDeadStart(int startPacket);
    // A trusted picture at `slot` after the one at `lastSlot` (or -1: the first of a stretch):
    // the positions between show the one before.
    void learnShown(int lastSlot, int slot);
    // The run ended at the end of the stream: what it showed last stays to the end.
    void learnToEnd(int lastSlot);

private:
    std::vector<int> m_slotAt;
    std::unordered_map<int, int> m_firstTrusted; // start packet -> first trusted slot
};

} // namespace video
