#include "platform/video/play/DecodeAhead.h"

#include <QLoggingCategory>

#include <algorithm>
#include <new>

Q_DECLARE_LOGGING_CATEGORY(lcPlay)

namespace video {

DecodeAhead::DecodeAhead(FrameSource &source, std::shared_ptr<const ClockSource> clock)
    : m_source(source)
    , m_clock(std::move(clock))
    , m_decodeThread([this] { decodeLoop(); })
{
}

DecodeAhead::~DecodeAhead()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_decodeThread.join();
}

void DecodeAhead::begin(const PlayPlan &plan, qint64 firstOrdinal, int capacity, int lapHead)
{
    {
        std::lock_guard lock(m_mutex);
        m_plan = plan;
        m_capacity = std::size_t(std::max(capacity, 1));
        ++m_generation;
        m_queue.clear();
        m_headQueued = 0;
        m_lapHead.assign(plan.repeat ? std::size_t(std::clamp<qint64>(lapHead, 0, plan.span()))
                                     : 0,
            nullptr);
        m_next = firstOrdinal;
        m_due = firstOrdinal;
        m_failed = false;
        m_outOfMemory = false;
        m_framesDecoded = 0;
        m_decodeSeconds = 0.0;
    }
    m_wake.notify_all();
}

void DecodeAhead::halt()
{
    std::lock_guard lock(m_mutex);
    m_plan.reset();
    ++m_generation;
    m_queue.clear();
    m_headQueued = 0;
    m_lapHead.clear();
}

void DecodeAhead::setDue(qint64 ordinal)
{
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (ordinal > m_due) {
            m_due = ordinal;
            wake = true;
        }
    }
    if (wake)
        m_wake.notify_all();
}

std::optional<DecodeAhead::Frame> DecodeAhead::takeUpTo(qint64 ordinal)
{
    std::optional<Frame> latest;
    {
        std::lock_guard lock(m_mutex);
        while (!m_queue.empty() && m_queue.front().ordinal <= ordinal) {
            Entry &entry = m_queue.front();
            latest = Frame{entry.ordinal, entry.position, std::move(entry.picture)};
            if (entry.fromHead)
                --m_headQueued;
            m_queue.pop_front();
            if (!latest->picture) // the play stops at it: nothing after it may be shown
                break;
        }
        if (!latest)
            return std::nullopt;
    }
    m_wake.notify_all(); // room in the queue
    return latest;
}

bool DecodeAhead::primed()
{
    std::lock_guard lock(m_mutex);
    if (!m_plan)
        return false;
    const qint64 last = m_plan->lastOrdinal();
    return m_queue.size() >= m_capacity || (last >= 0 && m_next > last) || m_failed;
}

qint64 DecodeAhead::headSlotLocked(qint64 ordinal) const
{
    if (m_lapHead.empty())
        return -1;
    const qint64 inLap = ordinal % m_plan->span();
    return inLap < qint64(m_lapHead.size()) ? inLap : -1;
}

PicturePtr DecodeAhead::headPictureLocked(qint64 ordinal) const
{
    const qint64 slot = headSlotLocked(ordinal);
    return slot >= 0 ? m_lapHead[std::size_t(slot)] : nullptr;
}

bool DecodeAhead::outOfMemory()
{
    std::lock_guard lock(m_mutex);
    return m_outOfMemory;
}

DecodeAhead::Pace DecodeAhead::pace()
{
    std::lock_guard lock(m_mutex);
    return Pace{m_framesDecoded, m_decodeSeconds, qint64(m_queue.size()), m_next};
}

bool DecodeAhead::idleLocked() const
{
    return m_quit || (!m_decoding && !hasDecodeWorkLocked());
}

void DecodeAhead::waitIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return idleLocked(); });
}

bool DecodeAhead::hasDecodeWorkLocked() const
{
    if (!m_plan || m_failed)
        return false;
    const qint64 last = m_plan->lastOrdinal();
    const qint64 next = std::max(m_next, m_due);
    if (last >= 0 && next > last)
        return false;
    // A held picture costs no memory more, but the queue stays bounded even when every
    // frame of a short range is held.
    if (headPictureLocked(next))
        return m_queue.size() < m_capacity + m_lapHead.size();
    return costLocked() < m_capacity;
}

// The picture at `position`, decoded with the lock let go; what the decoding took goes into
// the measured pace.
PicturePtr DecodeAhead::decodeUnlocked(std::unique_lock<std::mutex> &lock, int position)
{
    const quint64 generation = m_generation;
    m_decoding = true;
    lock.unlock();
    qint64 decoded = 0;
    SteadyTime started{};
    SteadyTime ended{};
    PicturePtr picture;
    try {
        decoded = -m_source.stats().framesDecoded;
        started = m_clock->now();
        picture = m_source.pictureAt(position);
        ended = m_clock->now();
        decoded += m_source.stats().framesDecoded;
    } catch (...) {
        lock.lock();
        m_decoding = false;
        throw;
    }
    lock.lock();
    m_decoding = false;
    if (generation == m_generation && decoded > 0) {
        const double seconds = std::chrono::duration<double>(ended - started).count();
        m_framesDecoded += decoded;
        m_decodeSeconds += seconds;
        // A call that decoded more than its frame decoded a stretch from its keyframe.
        if (decoded > 1)
            qCDebug(lcPlay) << "decoded" << decoded << "frames in" << seconds << "s for" << position;
    }
    return picture;
}

void DecodeAhead::decodeLoop()
{
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (!hasDecodeWorkLocked()) {
            if (idleLocked())
                m_idle.notify_all();
            m_wake.wait(lock);
            continue;
        }
        // Frames already due are late before they could be shown: skip to the due one.
        if (m_next < m_due)
            m_next = m_due;
        const quint64 generation = m_generation;
        const qint64 ordinal = m_next;
        const int position = m_plan->positionOf(ordinal);
        PicturePtr picture = headPictureLocked(ordinal);
        const bool fromHead = picture != nullptr;
        // Out of memory the play cannot go on, but nothing else need end: the play's decoding
        // stops with what it holds let go, and the taker finds out.
        try {
            if (!fromHead) {
                picture = decodeUnlocked(lock, position);
                if (generation != m_generation)
                    continue;
                if (const qint64 slot = headSlotLocked(ordinal); slot >= 0)
                    m_lapHead[std::size_t(slot)] = picture;
            }
            // An undecodable frame goes in all the same, without a picture, and is the last:
            // the play stops there.
            m_failed = !picture;
            m_queue.push_back(Entry{ordinal, position, std::move(picture), fromHead});
        } catch (const std::bad_alloc &) {
            picture.reset();
            if (generation != m_generation)
                continue; // a new play came meanwhile: it gets its chance
            m_outOfMemory = true;
            m_plan.reset();
            m_queue.clear();
            m_headQueued = 0;
            m_lapHead.clear();
            continue;
        }
        m_headQueued += fromHead ? 1 : 0;
        m_next = ordinal + 1;
    }
    m_idle.notify_all();
}

} // namespace video
