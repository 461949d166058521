#pragma once

#include "platform/video/decode/FrameIndex.h"
#include "platform/video/decode/ShownMap.h"

#include <cstdint>
#include <utility>

namespace video {

// One run: a decode from a keyframe forwards, and the slot each picture out of it takes. A new
// start is a new run (`m_run = DecodeRun(...)`); its end (`finish`) leaves a run that carries
// nothing on. No decoder here: the source sends the packets and hands over what comes out.
//
// The slot of a picture out. Where the file presents by time the decoder hands each picture
// the pts its packet was given, the packet's number, and the index names its slot. In an AVI
// it is the dts of the packet that pushed it out of the decoder (the packet's slot in the file)
// less the decoder's reorder delay; the pictures flushed at the end of the stream, which carry
// no dts, are pushed out by the packets after the last one, one each.
//
// Trust. A run that starts at a keyframe trusts nothing until a keyframe comes out of the
// decoder (open GOPs); what it shows first is learnt as the start's first trusted slot.
//
// Far pictures. Pictures too far before the target to be kept, which no other picture refers
// to, are left undecoded (`skipping`); the pictures out while that is so may take the wrong
// slot, since the decoder's output then lags the packets, so nothing is learnt from them up to
// the horizon: the last slot a skipped picture could have. A narrow run (started by a jump the
// work at rest can make up for) skips up to the last few pictures before the target.
class DecodeRun {
public:
    // What the decoder says of a picture it put out.
    struct Out {
        int64_t pts = INT64_MIN; // the packet's number, where the file presents by time
        int64_t dts = INT64_MIN; // of the packet that pushed it out (AV_NOPTS_VALUE: none)
        bool key = false;        // a keyframe or an intra picture
    };

    // No run: nothing to carry on.
    DecodeRun() = default;
    // A run from `keyPacket`; `positioned`: the file was put there.
    DecodeRun(const FrameIndex &index, bool byTime, int keyPacket, bool positioned, bool narrow)
        : m_index(&index), m_byTime(byTime), m_positioned(positioned), m_start(keyPacket),
          m_narrow(narrow)
    {
    }

    // Whether the run can be carried on: positioned, and its start proved by a keyframe out.
    bool carriesOn() const { return m_positioned && m_trusted; }
    int start() const { return m_start; }
    bool narrow() const { return m_narrow; }
    // Carried on by a call rather than started by a jump: everything kept in full.
    void widen() { m_narrow = false; }
    // The slot of the last trusted picture learnt, or -1 (none yet, or a skip since).
    int lastTrusted() const { return m_lastTrusted; }
    // The index of the last packet sent, or -1.
    int lastPacket() const { return m_lastPacket; }
    // Whether the run has learnt what is shown at `position` and gone beyond it.
    bool passed(int position) const { return m_trusted && m_lastTrusted > position; }
    // Only once the start has proved itself (its keyframe out), so that what a start shows
    // first is learnt from a plain decode.
    bool maySkip() const { return m_trusted && !m_firstPending; }

    // A packet goes to the decoder: its dts, and its index (or -1).
    void sent(int64_t dts, int packetIndex)
    {
        m_lastSent = int(dts);
        if (packetIndex >= 0)
            m_lastPacket = packetIndex;
    }
    // The packet at `slot` goes without its picture decoded unless others need it.
    void skipping(int slot);
    // The picture held though far before the target (null frames up to the target would show
    // it) is now this slot, or none (-1); the one held before, or -1.
    int holdFar(int slot) { return std::exchange(m_lastFar, slot); }
    // The end of the stream: the pictures still in the decoder come out.
    void flushing() { m_flushDts = m_lastSent + 1; }

    // The slot a picture out takes, learnt into `shown`; the slot to keep it under, or -1
    // where it teaches nothing. `delay`: the decoder's reorder delay now.
    int onFrame(const Out &frame, int delay, ShownMap &shown);
    // The run ends; after it the run carries nothing on.
    void finish(ShownMap &shown);

private:
    int slotOf(const Out &frame, int delay);
    // Whether the picture out is trusted, becoming so at its keyframe.
    bool trusts(const Out &frame);

    const FrameIndex *m_index = nullptr;
    bool m_byTime = false;
    bool m_positioned = false;
    int m_start = -1;         // the keyframe packet the run started from
    bool m_narrow = false;
    bool m_trusted = false;   // a keyframe has come out
    bool m_firstPending = false; // trusted, but nothing shown yet
    int m_lastOut = -1;       // slot of the last picture out
    int m_lastSent = -1;      // slot of the last packet sent
    int m_lastPacket = -1;    // index of the last packet sent
    int m_flushDts = -1;      // while flushing: the dts the next picture out stands for
    int m_lastTrusted = -1;   // slot of the last trusted picture
    int m_skipHorizon = -1;   // no picture skipped can show beyond this slot
    int m_lastFar = -1;       // a picture held though far before the target, or -1
};

} // namespace video
