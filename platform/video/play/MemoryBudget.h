#pragma once

#include <QtGlobal>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace video {

// What the machine can spare a play, read when it starts.
struct MachineMemory {
    // MemAvailable, or less where the process's control group holds it to less; 0 unknown.
    qint64 available = 0;
    qint64 addressSpaceLeft = -1; // below the process's address-space limit; -1 without one
    // From /proc/meminfo, the memory control groups of /proc/self/cgroup, getrlimit and
    // /proc/self/statm.
    static MachineMemory read();
};

// What one open video device may hold in decoded pictures, planned from the size of one
// decoded picture P (a 4:2:0 frame of 1920x1080 is 3.1 MB, of 3840x2160 12.4 MB).
//
// Where the memory goes:
// - the frame cache (FrameSource::setCacheCapBytes): frames decoded on the way to a target,
//   kept for steps and for a backward play's current stretch. Its cap is for frames only;
//   the (at most two) images it keeps come on top;
// - the play queue: references to decoded frames ahead of the picture. Forwards they are the
//   cache's own frames; backwards the queue carries the stretches being shown while the cache
//   fills with the next one, so the two add up;
// - the head of a repeating range, kept from its first lap so that a wrap never waits for a
//   decode from the keyframe before the range;
// - outside this budget and small beside it: the decoder's own pictures (its references and
//   what it has not handed on yet, and at most FramePool::idleCapFor idle), the one RGB32
//   image on show (a play converts into it in place), the window's backing store, and the
//   sound's buffers (about 0.3 s of PCM).
//
// Planned in frames, so that a 4K file gets as many pictures to step back through as a
// 1080p one, within a floor for small pictures (whose frames are cheap) and a ceiling.
//
// A reverse play grows from there with what the machine has (growReverse, read when the
// play starts): a quarter of MemAvailable, at most 3 GiB, and under an address-space limit
// (ulimit -v) at most half of what is left below it, for the cache and the queue together,
// half each, but only as far as the play needs: its longest keyframe-bounded stretch.
// Longer stretches mean fewer of them decoded again from their keyframe. Not more: the first
// stretch is decoded before the play's first picture, and every frame of it kept is one
// more decoded in full and one more of fresh memory faulted in on the way (on this kind of
// virtual machine a third of a 4K frame's decoding or more), so a 4K play of one keyframe is
// better off in two or three stretches, the later ones decoded while the first plays, than
// in one. Never less than the figures for the picture alone, which are what a play gets on a
// machine with little to spare, so that a run near an address-space limit behaves as it
// always did.
struct MemoryBudget {
    // Steps back from a paused forward play that find their frame in the cache.
    static constexpr int kStepsBack = 25;
    // Frames decoded ahead of the picture in a forward play: 0.12 s of play at any rate
    // (3 frames of a 25 fps file at 1x, 9 at 3x), which a decode of the same file forwards
    // keeps full with time to spare; at least 3, at most 12.
    static constexpr double kForwardQueueSeconds = 0.12;
    static constexpr int kForwardQueueLeast = 3;
    static constexpr int kForwardQueueMost = 12;
    static constexpr qint64 kCacheFloor = qint64(64) << 20;
    static constexpr qint64 kCacheCeiling = qint64(576) << 20;
    // A reverse play decodes a stretch into the cache, from the keyframe below it, while the
    // queue shows the stretches above: the longer the stretches, the fewer decodes from the
    // keyframe and the longer each may take. The floor: 44 frames each up to 1920x1080,
    // growing with the picture (whose decode costs more) to 50 at 3840x2160; at most
    // 1200 MiB together. growReverse takes them further where the machine allows.
    static constexpr int kReverseFrames = 44;
    static constexpr int kReverseFramesLarge = 50;
    static constexpr qint64 kReverseCeiling = qint64(1200) << 20;
    static constexpr int kReverseQueueMost = 128;
    // What a reverse play may take of the machine's available memory (a quarter), at most;
    // and of the address space left under a limit (a half: the decoder's own pictures and
    // its threads' arenas take address space beyond the frames counted here).
    static constexpr qint64 kAvailableShare = 4;
    static constexpr qint64 kReverseMost = qint64(3) << 30;
    static constexpr qint64 kAddressSpaceShare = 2;
    // Frames of a repeating range kept from its first lap: with the forward queue these
    // carry the picture for about a second after a wrap while the decoder starts again from
    // the keyframe before the range.
    static constexpr int kLapHeadFrames = 20;

    qint64 pictureBytes = 0;
    qint64 cacheBytes = 0;
    qint64 reverseCacheBytes = 0;
    qint64 forwardQueueBytes = 0;
    qint64 reverseQueueBytes = 0;
    qint64 lapHeadBytes = 0;

    // `framesPerSecond` of play: the file's rate times the speed.
    static int forwardQueueFrames(double framesPerSecond)
    {
        const double frames = std::ceil(kForwardQueueSeconds * framesPerSecond - 1e-9);
        return int(std::clamp<double>(frames, kForwardQueueLeast, kForwardQueueMost));
    }

    // For plays at this many frames a second and the rest after them.
    static MemoryBudget forPicture(qint64 pictureBytes, qint64 pixels,
        double framesPerSecond = 25.0)
    {
        MemoryBudget b;
        b.pictureBytes = std::max<qint64>(pictureBytes, 1);
        const int ahead = forwardQueueFrames(framesPerSecond);
        // The steps back, the picture on show, the forward queue ahead of it, and one frame
        // for the decoder's padding of each (about 1%).
        const int cached = kStepsBack + 1 + ahead + 1;
        b.cacheBytes = std::clamp(b.pictureBytes * cached, kCacheFloor, kCacheCeiling);
        b.forwardQueueBytes = b.pictureBytes * ahead;
        const int reverse = kReverseFrames +
            int(std::lround((kReverseFramesLarge - kReverseFrames) * sizeFactor(pixels)));
        const qint64 stretch = std::min(b.pictureBytes * reverse, kReverseCeiling / 2);
        b.reverseCacheBytes = std::max(b.cacheBytes, stretch);
        // Small pictures get the queue their floor-sized cache would fill, within the most.
        b.reverseQueueBytes = std::min(std::max(stretch, b.cacheBytes / 8 * 7),
            b.pictureBytes * kReverseQueueMost);
        b.lapHeadBytes = b.pictureBytes * kLapHeadFrames;
        return b;
    }

    // A reverse play whose longest keyframe-bounded stretch holds `stretchFrames` of its
    // frames, on a machine with `machine` to spare.
    void growReverse(const MachineMemory &machine, qint64 stretchFrames)
    {
        qint64 room = std::min(machine.available / kAvailableShare, kReverseMost);
        if (machine.addressSpaceLeft >= 0)
            room = std::min(room, machine.addressSpaceLeft / kAddressSpaceShare);
        // A cached frame costs a little more than its picture: the decoder pads each.
        const qint64 cached = pictureBytes + pictureBytes / 50;
        const qint64 frames = std::min(stretchFrames, room / 2 / cached);
        reverseCacheBytes = std::max(reverseCacheBytes, frames * cached);
        reverseQueueBytes = std::max(reverseQueueBytes, frames * pictureBytes);
    }

    // Whole pictures in `bytes`, at least 2 and at most `most`.
    int frames(qint64 bytes, int most) const
    {
        return int(std::clamp<qint64>(bytes / pictureBytes, 2, std::max(most, 2)));
    }

    // How far a picture of this many pixels is from 1920x1080 (0) to 3840x2160 (1).
    static double sizeFactor(qint64 pixels)
    {
        constexpr double kHd = 1920.0 * 1080.0;
        return std::clamp((double(pixels) / kHd - 1.0) / 3.0, 0.0, 1.0);
    }

    // The longest a forward play waits, before its clock starts, for its queue to fill: a
    // second up to 1920x1080, growing with the picture to two seconds at 3840x2160, where
    // one picture costs four times as much to decode.
    static std::chrono::milliseconds prerollLimit(qint64 pixels)
    {
        return std::chrono::milliseconds(1000 + std::lround(1000 * sizeFactor(pixels)));
    }
    // A reverse play waits as long as its measured decoding says it must (Player.h), up to
    // this: its first picture may need a decode of hundreds of frames from the keyframe.
    static constexpr std::chrono::milliseconds kReversePrerollMost{4000};
};

} // namespace video
