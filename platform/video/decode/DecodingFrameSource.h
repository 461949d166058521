#pragma once

#include "platform/video/FrameSource.h"
#include "platform/video/decode/FrameCache.h"
#include "platform/video/decode/MediaFile.h"
#include "platform/video/decode/VideoDecoder.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>
#include <unordered_map>
#include <vector>

namespace video {

// Exact frames by position, from one decoder kept running between calls.
//
// How a position becomes a picture. Every decoded frame gets a display slot: the dts of the
// packet that pushed it out of the decoder (the packet's slot in the file) less the decoder's
// reorder delay; frames that come out at the end of the stream, which have no dts, take the
// slot after the previous one. Slots only grow in display order, so once a frame with a slot
// beyond p has come out, the frame shown at p is known: the last one at or before p. That
// answer is remembered per position (m_shown) and the frame itself kept in the cache.
//
// Where a decode starts. Normally at the last keyframe at or before p. A decode that starts at
// a keyframe trusts nothing until a keyframe comes out of the decoder: MPEG-4 Part 2 from
// DivX and Xvid has open GOPs, whose B-frames just before a keyframe (in display order) sit
// after it in the file and need the previous GOP. The first trusted slot of each start is
// remembered, and a position before it is decoded from the keyframe before.
//
// What it costs. The decoder stays where it stopped, so a step or a wind forward continues it
// (one frame or ten decoded) instead of going back to the keyframe. Every frame decoded on
// the way to a target is kept, within the cache's cap, nearest the target first; so a step
// back after a seek is a cache hit, and a backward walk decodes each keyframe-bounded stretch
// forwards once and then walks through what it kept. Pictures too far before the target to be
// kept, which no other picture references (B-frames, mostly), are not decoded at all; the
// frames that come out while that is so may take the wrong slot (the decoder's output then
// lags the packets), so nothing is learnt from them up to the last slot one of the skipped
// pictures could have. A jump (a seek from a place of rest) goes further, when the work at rest
// can make up for it soon: only its last few pictures are decoded in full, and the work at rest
// decodes the stretch before the target again, so that the steps back after it still hit.
//
// At rest (setDecodeAhead). A thread carries on from the place of the last call, one packet
// under the lock at a time, each only once a second thread, at idle priority, has got to run:
// a packet is decoded only when a core had nothing else to do. The one that decodes is not
// itself at idle priority, since a call may wait for its packet and a thread at idle priority
// can go without a core for seconds while other programs keep both busy (and cannot be
// raised again without privileges). A call announces itself before it takes the lock and
// the work steps aside between two packets, so a call waits for one packet's decode at most,
// and the work picks up at the new place once the call is done.
class DecodingFrameSource : public FrameSource {
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
    // can decode the stretch before it again within this time.
    static constexpr int kJumpKeep = 4;
    // How far below the place of rest the work at rest makes sure of the pictures.
    static constexpr int kRefillDepth = 16;
    // How long a place stands before the work at rest goes below it.
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

private:
    enum class RunEnd { Reached, Overshot, EndOfStream, Failed };
    class CommandLock;

    void learnReorderDelay();
    void learnLeadIn();
    int clampPosition(int position) const;
    // Decodes until the frame shown at `position` is cached; the clamped position, or -1.
    // A jump (a call from a place of rest, not a walk down) may leave the stretch before the
    // target to the work at rest.
    int locate(int position, bool jump);
    int chooseStart(int position) const;
    // Carries on with the running decode or starts one at a keyframe, whichever is cheaper.
    // For a jump, a run it starts at a keyframe is narrow where the work at rest can make up
    // for it: it decodes in full only the last pictures before the position.
    bool prepareRun(int position, bool jump);
    bool startRun(int keyPacket);
    RunEnd runUntil(int position);
    // One packet of a run; nothing while the run goes on.
    std::optional<RunEnd> runStep(int position);
    bool farBefore(int packetIndex) const;
    bool carriesOnCheaply(int position) const;
    bool refillIsCheap(int pictures) const;
    void onFrame(AVFrame *frame);
    void finishRun();
    bool knownAndCached(int position) const;
    void trimAroundLastRequest();

    void scheduleRest(int position, bool images);
    void restLoop();
    void idleGate();
    // One packet's worth (or one conversion) of the work at rest; false when none is left.
    bool restStep();
    int restGoal() const;

    mutable std::mutex m_mutex;
    std::unique_ptr<MediaFile> m_file;
    std::unique_ptr<VideoDecoder> m_decoder;
    FrameConverter m_converter;
    FrameCache m_cache;
    ff::PacketPtr m_packet;

    std::vector<int> m_shown; // per position: slot of the frame shown there, -1 unknown
    std::unordered_map<int, int> m_firstTrusted; // start packet -> first trusted slot

    // The running decode.
    bool m_positioned = false;
    bool m_trusted = false;
    bool m_firstPending = false; // trusted, but nothing shown yet in this run
    int m_runStart = -1;
    int m_lastOut = -1;     // slot of the last frame out of the decoder in this run
    int m_lastSent = -1;    // slot of the last packet sent in this run
    int m_lastPacket = -1;  // index of the last packet sent in this run
    int m_flushDts = -1;    // while flushing: the dts the next picture out stands for
    int m_lastTrusted = -1; // slot of the last trusted frame in this run
    int m_lastFar = -1;     // a frame held though far before the target, or -1
    int m_skipHorizon = -1; // no picture skipped in this run can show beyond this slot
    int m_keepWindow = 16;  // frames before a target the cache would keep
    bool m_skipFar = true;
    bool m_narrowRun = false; // the run was started by a jump
    int m_target = 0;
    int m_direction = 1;
    int m_lastRequest = 0;

    // At rest: guarded by m_mutex, except m_waiting.
    mutable std::atomic<int> m_waiting{0}; // calls waiting for the lock
    mutable std::condition_variable m_restWake;
    std::condition_variable m_rested;
    std::thread m_restThread;
    std::thread m_idleGate;              // at idle priority: lets the work go a packet on
    std::counting_semaphore<4> m_wantTurn{0}; // the work asks the gate
    std::counting_semaphore<4> m_turn{0};     // the gate answers
    std::atomic<bool> m_gateStops{false};
    bool m_quit = false;
    bool m_restPending = false;
    bool m_restImages = false; // the place was a frameAt: its next picture as an image too
    int m_restAt = -1;
    int m_restFor = -1;     // the goal the running work is for
    bool m_restRunning = false;
    int m_restTries = 0;
    int m_restBehind = 0; // goals below the place gone for
    std::chrono::steady_clock::time_point m_restSince; // when the place was set
    bool m_restHurried = false; // someone waits for the work to be done
    int m_restPackets = 0;

    qint64 m_framesDecoded = 0;
    qint64 m_hits = 0;
    qint64 m_misses = 0;
};

} // namespace video
