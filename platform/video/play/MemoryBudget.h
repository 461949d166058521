#pragma once

#include <QtGlobal>

#include <algorithm>
#include <chrono>

namespace video {

// What one open video device may hold in decoded pictures, planned from the size of one
// decoded picture (a 4:2:0 frame of 1920x1080 is 3.1 MB, of 3840x2160 12.4 MB).
//
// Where the memory goes:
// - the frame cache (FrameSource::setCacheCapBytes): frames decoded on the way to a target,
//   kept for steps and for a backward play's current stretch;
// - the play queue: references to decoded frames ahead of the picture. Forwards they are
//   mostly the cache's own frames; backwards the queue carries the stretch being shown while
//   the cache fills with the next one, so the two add up;
// - the head of a repeating range, kept from its first lap so that a wrap never waits for a
//   decode from the keyframe before the range;
// - outside this budget and small beside it: the decoder's own pool (its reference
//   pictures and at most VideoDecoder's idle cap), the RGB32 images of the picture on show
//   and the next two, and the sound's buffers (about 0.3 s of PCM).
//
// Planned in frames, so that a 4K file gets as many pictures to step back through as a
// 1080p one, within a floor for small pictures (whose frames are cheap) and a ceiling.
struct MemoryBudget {
    // Frames the cache holds: enough for 25 steps back after a pause in a forward play,
    // whose queue runs 12 frames ahead of the picture, beside the two RGB32 images the
    // cache keeps (each the size of about 2.7 frames, and counted against the same cap).
    static constexpr int kCacheFrames = 44;
    static constexpr qint64 kCacheFloor = qint64(96) << 20;
    static constexpr qint64 kCacheCeiling = qint64(576) << 20;
    static constexpr int kForwardQueueFrames = 12;
    static constexpr int kReverseQueueFrames = 128;
    // Frames of a repeating range kept from its first lap: with the forward queue these
    // carry the picture for about a second after a wrap while the decoder starts again from
    // the keyframe before the range.
    static constexpr int kLapHeadFrames = 20;

    qint64 pictureBytes = 0;
    qint64 cacheBytes = 0;
    qint64 forwardQueueBytes = 0;
    qint64 reverseQueueBytes = 0;
    qint64 lapHeadBytes = 0;

    static MemoryBudget forPicture(qint64 pictureBytes)
    {
        MemoryBudget b;
        b.pictureBytes = std::max<qint64>(pictureBytes, 1);
        b.cacheBytes = std::clamp(b.pictureBytes * kCacheFrames, kCacheFloor, kCacheCeiling);
        b.forwardQueueBytes = b.pictureBytes * kForwardQueueFrames;
        // Backwards the queue holds a cached stretch, so that the next stretch can be decoded
        // into the cache while this one is shown; a little less than the cache holds (its
        // frames carry padding, the frame on screen is one of them), so that the stretch a
        // seek left in the cache fills the queue and ends the pre-roll by itself.
        b.reverseQueueBytes = b.cacheBytes / 8 * 7;
        b.lapHeadBytes = b.pictureBytes * kLapHeadFrames;
        return b;
    }

    // Whole pictures in `bytes`, at least 2 and at most `most`.
    int frames(qint64 bytes, int most) const
    {
        return int(std::clamp<qint64>(bytes / pictureBytes, 2, std::max(most, 2)));
    }

    // The longest a play waits, before its clock starts, for its queue to fill: a second up
    // to 1920x1080, growing with the picture to two seconds at 3840x2160, where one picture
    // costs four times as much to decode.
    static std::chrono::milliseconds prerollLimit(qint64 pixels)
    {
        constexpr double kHd = 1920.0 * 1080.0;
        const double extra = std::clamp((double(pixels) / kHd - 1.0) / 3.0, 0.0, 1.0);
        return std::chrono::milliseconds(1000 + qint64(1000 * extra));
    }
};

} // namespace video
