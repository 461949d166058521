#include "platform/avi/play/DecodeAhead.h"

#include "platform/avi/FrameSource.h"

#include <algorithm>

namespace avi {

DecodeAhead::DecodeAhead(FrameSource &source)
    : m_source(source)
    , m_thread([this] { run(); })
{
}

DecodeAhead::~DecodeAhead()
{
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    m_thread.join();
}

void DecodeAhead::begin(const PlayPlan &plan, qint64 firstOrdinal, int capacity)
{
    {
        std::lock_guard lock(m_mutex);
        m_plan = plan;
        m_capacity = std::size_t(std::max(capacity, 1));
        ++m_generation;
        m_queue.clear();
        m_next = firstOrdinal;
        m_due = firstOrdinal;
        m_busy = true;
    }
    m_wake.notify_all();
}

void DecodeAhead::halt()
{
    std::lock_guard lock(m_mutex);
    m_plan.reset();
    ++m_generation;
    m_queue.clear();
}

void DecodeAhead::setDue(qint64 ordinal)
{
    bool wake = false;
    {
        std::lock_guard lock(m_mutex);
        if (ordinal > m_due) {
            m_due = ordinal;
            wake = m_next < m_due;
            m_busy = m_busy || wake;
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
            latest = std::move(m_queue.front());
            m_queue.pop_front();
        }
        if (latest)
            m_busy = true;
    }
    if (latest)
        m_wake.notify_all();
    return latest;
}

void DecodeAhead::waitIdle()
{
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return !m_busy || m_quit; });
}

bool DecodeAhead::hasWorkLocked() const
{
    if (!m_plan || m_queue.size() >= m_capacity)
        return false;
    const qint64 last = m_plan->lastOrdinal();
    const qint64 next = std::max(m_next, m_due);
    return last < 0 || next <= last;
}

void DecodeAhead::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_quit) {
        if (!hasWorkLocked()) {
            m_busy = false;
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
        lock.unlock();
        QImage image = m_source.frameAt(position);
        lock.lock();
        if (generation != m_generation)
            continue;
        m_queue.push_back({ordinal, position, std::move(image)});
        m_next = ordinal + 1;
    }
    m_busy = false;
    m_idle.notify_all();
}

} // namespace avi
