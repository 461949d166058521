#pragma once

#include "platform/avi/play/PlayPlan.h"

#include <QImage>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace avi {

class FrameSource;

// The decode thread of a play: decodes the frames of a PlayPlan in play order, ahead of the
// picture, into a small bounded queue that the user-interface thread takes from.
//
// The user-interface thread tells it which ordinal is due now (setDue); a decoder that has
// fallen behind jumps there instead of decoding frames that are already late. Every call
// returns at once; none waits for a decode, except waitIdle(), which tests use to let the
// thread finish what it can do before they look.
class DecodeAhead {
public:
    struct Frame {
        qint64 ordinal = 0;
        int position = 0;
        QImage image;
    };

    explicit DecodeAhead(FrameSource &source);
    ~DecodeAhead();
    DecodeAhead(const DecodeAhead &) = delete;
    DecodeAhead &operator=(const DecodeAhead &) = delete;

    // Start decoding a new play from `firstOrdinal`, holding up to `capacity` frames; what
    // was queued for the old one is gone.
    void begin(const PlayPlan &plan, qint64 firstOrdinal, int capacity);
    // No play: the thread goes idle and drops its queue.
    void halt();
    void setDue(qint64 ordinal);
    // Removes every queued frame up to `ordinal` and returns the latest of them.
    std::optional<Frame> takeUpTo(qint64 ordinal);
    // Blocks until the thread has nothing more it can do (queue full, plan done or no plan).
    void waitIdle();

private:
    void run();
    bool hasWorkLocked() const;

    FrameSource &m_source;

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Frame> m_queue;
    std::optional<PlayPlan> m_plan;
    std::size_t m_capacity = 1;
    quint64 m_generation = 0;
    qint64 m_next = 0; // next ordinal to decode
    qint64 m_due = 0;
    bool m_busy = false; // set by whoever gives work, cleared by the thread when it has none
    bool m_quit = false;
    std::thread m_thread; // last: starts after everything it reads is built
};

} // namespace avi
