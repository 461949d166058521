// What a run learns of what is shown where, from the pictures a decoder would put out: no file,
// no decoder, no thread. Each case is a run's sequence of packets sent and pictures out.
#include "platform/video/FFmpegHandles.h"
#include "platform/video/decode/DecodeRun.h"
#include "platform/video/decode/ShownMap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <ostream>
#include <string>
#include <vector>

namespace {

using video::DecodeRun;
using video::FrameIndex;
using video::ShownMap;

struct Event {
    enum Kind { Send, Skip, Out, Flush, Finish } kind;
    int64_t number = 0; // Send, Skip: the packet; Out: its dts (AVI) or pts (by time)
    bool key = false;
};
Event send(int packet) { return {Event::Send, packet}; }
Event skip(int packet) { return {Event::Skip, packet}; }
Event out(int64_t number, bool key = false) { return {Event::Out, number, key}; }
Event flushed(bool key = false) { return {Event::Out, AV_NOPTS_VALUE, key}; }
const Event flush{Event::Flush};
const Event finish{Event::Finish};

struct Case {
    const char *name;
    bool byTime;
    std::vector<int> slots; // per packet in file order; in an AVI also its dts
    std::vector<int> keys;  // keyframe packets
    int start;
    int delay;
    std::vector<Event> events;
    std::vector<int> kept;  // slots of the pictures to keep, in order
    std::vector<int> shown; // the map afterwards, per position
    int firstShown;         // the start's first trusted slot: -1 unknown, INT_MAX never
};

void PrintTo(const Case &c, std::ostream *os)
{
    *os << c.name;
}

FrameIndex indexOf(const Case &c)
{
    std::vector<FrameIndex::Packet> packets;
    for (int i = 0; i < int(c.slots.size()); ++i) {
        FrameIndex::Packet p;
        p.pos = i;
        p.slot = c.slots[size_t(i)];
        p.keyframe = std::find(c.keys.begin(), c.keys.end(), i) != c.keys.end();
        packets.push_back(p);
    }
    return FrameIndex(std::move(packets), int(c.shown.size()));
}

// The first position a run from the start shows, as chooseStart asks it.
int firstShown(const ShownMap &map, int start)
{
    if (!map.startKnown(start))
        return -1;
    for (int p = 0; p < map.size(); ++p) {
        if (map.startShows(start, p))
            return p;
    }
    return INT_MAX;
}

class Run : public ::testing::TestWithParam<Case> {};

TEST_P(Run, LearnsWhatIsShownWhere)
{
    const Case &c = GetParam();
    const FrameIndex index = indexOf(c);
    ShownMap map(int(c.shown.size()));
    DecodeRun run(index, c.byTime, c.start, true, false);
    std::vector<int> kept;
    for (const Event &e : c.events) {
        switch (e.kind) {
        case Event::Send:
        case Event::Skip:
            run.sent(c.byTime ? e.number : c.slots[size_t(e.number)], int(e.number));
            if (e.kind == Event::Skip)
                run.skipping(c.slots[size_t(e.number)]);
            break;
        case Event::Out: {
            const DecodeRun::Out frame{c.byTime ? e.number : AV_NOPTS_VALUE,
                c.byTime ? AV_NOPTS_VALUE : e.number, e.key};
            if (const int slot = run.onFrame(frame, c.delay, map); slot >= 0)
                kept.push_back(slot);
            break;
        }
        case Event::Flush:
            run.flushing();
            break;
        case Event::Finish:
            run.finish(map);
            EXPECT_FALSE(run.carriesOn());
            break;
        }
    }
    EXPECT_EQ(kept, c.kept);
    std::vector<int> shown;
    for (int p = 0; p < map.size(); ++p)
        shown.push_back(map.at(p));
    EXPECT_EQ(shown, c.shown);
    EXPECT_EQ(firstShown(map, c.start), c.firstShown);
}

// AVI chunks of MPEG-4 with B-frames: I0 P3 B1 B2 P6 B4 B5 I9 B7 B8, a picture out one packet
// late (delay 1). Its slot is the dts of the packet that pushed it out, less the delay; the
// dts is the chunk's slot.
const std::vector<int> kAviSlots{0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
const std::vector<int> kAviKeys{0, 7};

const Case kCases[] = {
    // The B-frames of an open GOP dropped by the decoder: the keyframe flushed at the end
    // stands for the packet after the last, not for the run's first slot.
    {"AviOpenGopDroppedKeyframeFlushed", false, kAviSlots, kAviKeys, 7, 1,
        {send(7), send(8), send(9), flush, flushed(true), finish},
        {9}, {-1, -1, -1, -1, -1, -1, -1, -1, -1, 9}, 9},
    // The same B-frames put out damaged, before the keyframe: nothing learnt from them.
    {"AviOpenGopDamagedBeforeKeyframe", false, kAviSlots, kAviKeys, 7, 1,
        {send(7), send(8), out(8), send(9), out(9), flush, flushed(true), finish},
        {9}, {-1, -1, -1, -1, -1, -1, -1, -1, -1, 9}, 9},
    // Far pictures skipped from packet 2: the pictures out up to the horizon (slot 3) may
    // lag, and none of the positions in between is the last one learnt. At the end the last
    // picture stays.
    {"AviFarPicturesSkipped", false, kAviSlots, kAviKeys, 0, 1,
        {send(0), send(1), out(1, true), skip(2), out(2), skip(3), out(3), send(4), out(4),
            send(5), out(5), send(6), out(6), finish},
        {0, 4, 5}, {0, -1, -1, -1, 4, 5, 5, 5, 5, 5}, 0},
    // A start whose keyframe never comes out is not started from again.
    {"AviStartWithoutKeyframeOut", false, kAviSlots, kAviKeys, 7, 1,
        {send(7), send(8), out(8), finish}, {}, {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1},
        INT_MAX},
    // From the file's start, what a plain decode shows is a position, keyframe or not, and
    // the positions before the first picture show it (null frames before it).
    {"AviFileStartsWithNullFrames", false, {2, 3, 4}, {0}, 0, 0,
        {send(0), out(2), send(1), out(3), send(2), out(4), finish},
        {2, 3, 4}, {2, 2, 2, 3, 4}, 2},
    // By time: the pts names the packet, the index its slot. Packets I0 P3 B1 B2 P6 B4 B5
    // out in presentation order, B5 never: its position shows the picture before.
    {"ByTimeReordered", true, {0, 3, 1, 2, 6, 4, 5}, {0}, 0, 2,
        {send(0), send(1), send(2), out(0, true), send(3), out(2), out(3), send(4), out(1),
            send(5), send(6), out(5), out(4), finish},
        {0, 1, 2, 3, 4, 6}, {0, 1, 2, 3, 4, 4, 6}, 0},
    // An edit list's pre-roll: its keyframe (slot -1) never comes out, so what follows it is
    // the start; a packet decoded only for others (slot -1) shows nothing.
    {"ByTimeHiddenKeyframeStarts", true, {0, 1, -1, 2, -1, 3, 4}, {0, 2}, 2, 2,
        {send(2), send(3), send(4), out(3), out(4), send(5), out(5), send(6), out(6), finish},
        {2, 3, 4}, {-1, -1, 2, 3, 4}, 2},
};

INSTANTIATE_TEST_SUITE_P(Cases, Run, ::testing::ValuesIn(kCases),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
