#pragma once

#include "platform/video/FrameSource.h"
#include "platform/video/decode/DecodeRun.h"
#include "platform/video/decode/FrameCache.h"
#include "platform/video/decode/MediaFile.h"
#include "platform/video/decode/RestWork.h"
#include "platform/video/decode/ShownMap.h"
#include "platform/video/decode/VideoDecoder.h"

#include <chrono>
#include <mutex>
#include <optional>

namespace video {

// Exact frames by position, from one decoder kept running between calls: the locking front
// door over the decode. Every call takes the one lock (a `CommandLock`, which the work at rest
// steps aside for); behind it a `DecodeRun` decodes from a keyframe and gives each picture out
// its slot, the `ShownMap` learns from it what is shown where, the `FrameCache` keeps the
// pictures, and the `RestWork` carries on at the place of rest.
//
// Where a decode starts: normally at the last keyframe at or before the position; before a
// start's first trusted slot (an open GOP), at the keyframe before (`chooseStart`).
//
// What it costs. The decoder stays where it stopped, so a step or a wind forward carries the
// run on (one frame or ten decoded) instead of going back to the keyframe. Every frame decoded
// on the way to a target is kept, within the cache's cap, nearest the target first; so a step
// back after a seek is a cache hit, and a backward walk decodes each keyframe-bounded stretch
// forwards once and then walks through what it kept. Pictures too far before the target to be
// kept (before the keep window), which no other picture refers to, are not decoded at all
// (`farBefore`). A jump (a frameAt that is not a walk down) goes further when the work at rest
// can make up for it soon: its run is narrow, decoding in full only the last `kJumpKeep`
// pictures, and the work at rest decodes the stretch before the target again, so that the
// steps back after it still hit.
class DecodingFrameSource : public FrameSource, private RestWork::Task {
public:
    static constexpr qint64 kDefaultCacheCap = 160ll * 1024 * 1024;
    // In decoded frames: what a restart at a keyframe costs beyond decoding from there, when
    // the files's keyframes are all real (intra-only codecs: a wind step then decodes one
    // frame), and when a start may turn out to hold only B-frames of an open GOP.
    static constexpr int kRestartCost = 2;
    static constexpr int kUncertainRestartCost = 12;
    // Packets from the start of an MPEG-4 file decoded at open to find B-frames that its
    // header does not own up to.
    static constexpr int kDelayProbePackets = 12;
    // Packets from the start decoded at open, at most, to find the first keyframe shown.
    static constexpr int kLeadInPackets = 600;

    // Pictures prepared after the place of rest.
    static constexpr int kRestAhead = 2;
    // A jump decodes in full only the last pictures before its target, when the work at rest
    // can decode the stretch before it again within kRefillSeconds.
    static constexpr int kJumpKeep = 4;
    // How far below the place of rest the work at rest makes sure of the pictures (the refill).
    static constexpr int kRefillDepth = 16;
    // How long a place stands before the work at rest goes below it; the refill is cheap when
    // it takes no longer than kRefillSeconds at what a picture has cost so far.
    static constexpr std::chrono::milliseconds kBelowAfter{400};
    static constexpr double kRefillSeconds = 1.5;

    // `skipFarPictures`: unreferenced pictures far before a target are left undecoded.
    DecodingFrameSource(std::unique_ptr<MediaFile> file, std::unique_ptr<VideoDecoder> decoder,
        bool skipFarPictures = true);
    ~DecodingFrameSource() override;

    const VideoInfo &info() const override { return m_file->info(); }
    QImage frameAt(int position) override;
    PicturePtr pictureAt(int position) override;
    qint64 pictureBytes() const override;
    Stats stats() const override;
    bool isCached(int position) const override;
    bool isKeyframe(int position) const override;
    void setCacheCapBytes(qint64 bytes) override;
    void setDecodeAhead(bool on) override;
    void restAt(int position) override;
    void waitForRest() override;
    // The decoder's picture memory; empty when it uses libavcodec's pool.
    FramePool::Stats poolStats() const;

private:
    enum class RunEnd { Reached, Overshot, EndOfStream, Failed };
    class CommandLock;

    int clampPosition(int position) const;
    // Decodes until the frame shown at `position` is cached; the clamped position, or -1.
    // A jump (a call from a place of rest, not a walk down) may leave the stretch before the
    // target to the work at rest.
    int locate(int position, bool jump);
    int chooseStart(int position) const;
    // Carries on with the running decode or starts one at a keyframe, whichever is cheaper.
    // For a jump, a run it starts at a keyframe is narrow where the work at rest can make up
    // for it.
    bool prepareRun(int position, bool jump);
    bool startRun(int keyPacket, bool narrow);
    RunEnd runUntil(int position);
    // One packet of a run; nothing while the run goes on.
    std::optional<RunEnd> runStep(int position);
    bool farBefore(int packetIndex) const;
    bool carriesOnCheaply(int position) const;
    bool refillIsCheap(int pictures) const;
    void onFrame(AVFrame *frame);
    // Caches a picture out of the run, within the keep window.
    void keep(int slot, AVFrame *frame);
    // Pictures before a target that the cache, at its cap, would keep.
    void setKeepWindow(qint64 frameBytes);
    // What the decoder's pool keeps idle: more while a play goes backwards.
    void keepPlayMemory();
    void finishRun();
    bool knownAndCached(int position) const;
    void trimAroundLastRequest();

    // What the work at rest asks of the source (RestWork::Task), under the lock.
    int restGoalAhead(int place, bool images) const override;
    int restGoalBelow(int place) const override;
    bool restHas(int position) const override { return knownAndCached(position); }
    bool restIntraOnly() const override { return m_file->index().everyPacketIsKeyframe(); }
    bool restConvert(int position) override;
    bool restSetOut(int position) override;
    std::optional<bool> restPacket(int position) override;
    void restGiveUp() override { finishRun(); }
    int restPacketLimit() const override { return m_file->index().packetCount() + 16; }

    mutable std::mutex m_mutex;
    std::unique_ptr<MediaFile> m_file;
    std::unique_ptr<VideoDecoder> m_decoder;
    FrameConverter m_converter;
    FrameCache m_cache;
    ff::PacketPtr m_packet;
    ShownMap m_shown;
    DecodeRun m_run;

    // The keep window: frames before a target the cache would keep (learnt from a frame's size).
    int m_keepWindow = 16;
    bool m_skipFar = true;
    int m_target = 0;           // the position the run goes for now (a call's, or the rest's)
    int m_direction = 1;        // the way the calls go: 1 up, -1 down
    int m_lastRequest = 0;      // the last position a call asked for: the cache trims round it
    // A play asks (pictureAt): going backwards, it holds what it passed in its queue.
    bool m_playing = false;
    std::size_t m_poolIdleCap = 0; // set in the decoder's pool; 0 before the first call
    bool m_poolSmallPages = false;  // the pool's new slabs are not advised into huge pages

    qint64 m_framesDecoded = 0;
    qint64 m_hits = 0;
    qint64 m_misses = 0;

    RestWork m_rest; // last: its threads stop before the rest goes
};

} // namespace video
