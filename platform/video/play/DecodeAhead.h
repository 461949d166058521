#pragma once

#include "platform/video/FrameSource.h"
#include "platform/video/play/ClockSource.h"
#include "platform/video/play/PlayPlan.h"

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace video {

// The decode side of a play: decodes the frames of a PlayPlan in play order, ahead of the
// picture, into a bounded queue that the user-interface thread takes from.
//
// One thread asks the source for each frame unconverted (a reference to the decoded frame, a
// third of an image's size), so the queue can run well ahead: backwards, where the frames come
// a keyframe-bounded stretch at a time, the queue carries the picture while the next stretch
// decodes. The taker converts the one frame it shows, into the picture on show where it can:
// an image made ahead would cost the memory of three frames for a conversion of a millisecond
// or two.
//
// The user-interface thread tells it which ordinal is due now (setDue); a decoder that has
// fallen behind jumps there instead of decoding frames that are already late. No call waits
// for a decode, except waitIdle(), which tests use to let the thread finish what it can do
// before they look.
//
// A repeating play keeps the first frames of its range from the first lap (the lap head).
// At every wrap they go into the queue at once, beyond its capacity (they cost no memory
// that is not spent already), so the decode thread reaches the first frame after the head,
// the one that needs a decode from the keyframe before the range, a head's worth of frames
// earlier than the queue alone would let it.
//
// It measures the play's decoding as it goes (pace()): the frames the source's decoder put
// out during its calls (FrameSource::Stats::framesDecoded) against the time the calls took,
// by the clock it is given.
class DecodeAhead {
public:
    struct Frame {
        qint64 ordinal = 0;
        int position = 0;
        PicturePtr picture; // null when the frame could not be decoded: the play's last
    };
    struct Pace {
        qint64 framesDecoded = 0; // by the calls of this play that decoded anything
        double seconds = 0.0;     // that those calls took
        qint64 queued = 0;        // frames in the queue now
        qint64 next = 0;          // the ordinal to decode next
        // Frames a second, or 0 before anything was measured.
        double rate() const { return seconds > 0 ? double(framesDecoded) / seconds : 0.0; }
    };

    explicit DecodeAhead(FrameSource &source,
        std::shared_ptr<const ClockSource> clock = std::make_shared<SteadyClockSource>());
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    // Start decoding a new play from `firstOrdinal`, holding up to `capacity` frames and,
    // when it repeats, up to `lapHead` frames of its range's head; what was queued or kept
    // for the old one is gone.
    void begin(const PlayPlan &plan, qint64 firstOrdinal, int capacity, int lapHead = 0);
    // No play: the threads go idle and drop the queue.
    void halt();
    void setDue(qint64 ordinal);
    // Removes every queued frame up to `ordinal` and returns the latest of them, or the first
    // that could not be decoded.
    std::optional<Frame> takeUpTo(qint64 ordinal);
    // Whether the play can keep time from here on as far as decoding ahead can tell: the
    // queue is full, or holds the play's last frame or one that could not be decoded.
    bool primed();
    // Blocks until the thread has nothing more it can do (queue full, plan done or no plan).
    void waitIdle();
    // Whether the play's decoding ran out of memory; it stopped then, and the queue was
    // dropped. Cleared by begin().
    bool outOfMemory();
    Pace pace();

private:
    struct Entry {
        qint64 ordinal = 0;
        int position = 0;
        PicturePtr picture;
        bool fromHead = false; // kept in the lap head, so outside the queue's capacity
    };

    void decodeLoop();
    PicturePtr decodeUnlocked(std::unique_lock<std::mutex> &lock, int position);
    bool hasDecodeWorkLocked() const;
    bool idleLocked() const;
    std::size_t costLocked() const { return m_queue.size() - m_headQueued; }
    // The lap head's picture for this ordinal, when it is held.
    PicturePtr headPictureLocked(qint64 ordinal) const;
    qint64 headSlotLocked(qint64 ordinal) const;

    FrameSource &m_source;
    std::shared_ptr<const ClockSource> m_clock;

    std::mutex m_mutex;
    std::condition_variable m_wake; // the thread waits on it for work
    std::condition_variable m_idle; // waitIdle
    std::deque<Entry> m_queue;
    std::optional<PlayPlan> m_plan;
    std::size_t m_capacity = 1;
    std::vector<PicturePtr> m_lapHead; // by ordinal within the lap
    std::size_t m_headQueued = 0;      // queued entries taken from the lap head
    quint64 m_generation = 0;
    qint64 m_next = 0; // next ordinal to decode
    qint64 m_due = 0;
    qint64 m_framesDecoded = 0; // this play's, for pace()
    double m_decodeSeconds = 0.0;
    bool m_decoding = false; // the decode thread is in a call to the source
    bool m_failed = false;   // a frame could not be decoded: nothing after it is
    bool m_outOfMemory = false;
    bool m_quit = false;
    // Last: it starts after everything it reads is built.
    std::thread m_decodeThread;
};

} // namespace video
