#pragma once

#include "platform/video/FrameSource.h"
#include "platform/video/play/PlayPlan.h"

#include <QImage>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace video {

// The decode side of a play: decodes the frames of a PlayPlan in play order, ahead of the
// picture, into a bounded queue that the user-interface thread takes from.
//
// Two threads. The decode thread asks the source for each frame unconverted (a reference to
// the decoded frame, a third of an image's size), so the queue can run well ahead: backwards,
// where the frames come a keyframe-bounded stretch at a time, the queue carries the picture
// while the next stretch decodes. The convert thread turns the first few queued frames into
// images, so that the one due next is ready; a frame taken before it was converted is
// converted by the taker.
//
// The user-interface thread tells it which ordinal is due now (setDue); a decoder that has
// fallen behind jumps there instead of decoding frames that are already late. No call waits
// for a decode, except waitIdle(), which tests use to let the threads finish what they can
// do before they look.
class DecodeAhead {
public:
    struct Frame {
        qint64 ordinal = 0;
        int position = 0;
        QImage image;
    };
    // Images made ahead of the one due.
    static constexpr int kConvertedAhead = 2;

    explicit DecodeAhead(FrameSource &source);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    // Start decoding a new play from `firstOrdinal`, holding up to `capacity` frames; what
    // was queued for the old one is gone.
    void begin(const PlayPlan &plan, qint64 firstOrdinal, int capacity);
    // No play: the threads go idle and drop the queue.
    void halt();
    void setDue(qint64 ordinal);
    // Removes every queued frame up to `ordinal` and returns the latest of them.
    std::optional<Frame> takeUpTo(qint64 ordinal);
    // Blocks until the threads have nothing more they can do (queue full and converted as
    // far as they go, plan done or no plan).
    void waitIdle();

private:
    enum class State { Pending, Converting, Ready };
    struct Entry {
        qint64 ordinal = 0;
        int position = 0;
        PicturePtr picture;
        QImage image;
        State state = State::Pending;
    };
    using EntryPtr = std::shared_ptr<Entry>;

    void decodeLoop();
    void convertLoop();
    bool hasDecodeWorkLocked() const;
    EntryPtr convertWorkLocked() const;
    bool idleLocked() const;

    FrameSource &m_source;

    std::mutex m_mutex;
    std::condition_variable m_wake;      // both threads wait on it for work
    std::condition_variable m_idle;      // waitIdle
    std::condition_variable m_converted; // a taker waiting for the convert thread
    std::deque<EntryPtr> m_queue;
    std::optional<PlayPlan> m_plan;
    std::size_t m_capacity = 1;
    quint64 m_generation = 0;
    qint64 m_next = 0; // next ordinal to decode
    qint64 m_due = 0;
    bool m_decoding = false;   // the decode thread is in a call to the source
    bool m_converting = false; // the convert thread is converting
    bool m_quit = false;
    // Last: they start after everything they read is built.
    std::thread m_decodeThread;
    std::thread m_convertThread;
};

} // namespace video
