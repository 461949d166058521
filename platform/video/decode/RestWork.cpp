#include "platform/video/decode/RestWork.h"

#include "platform/video/decode/IdlePriority.h"

#include <algorithm>
#include <new>

namespace video {

RestWork::RestWork(std::mutex &mutex, Task &task, std::chrono::milliseconds belowAfter)
    : m_mutex(mutex), m_task(task), m_belowAfter(belowAfter)
{
}

void RestWork::start()
{
    if (running())
        return;
    m_quit = false;
    m_gateStops = false;
    m_gate = std::thread([this] { gate(); });
    m_thread = std::thread([this] { loop(); });
}

void RestWork::stop()
{
    if (!running())
        return;
    {
        std::lock_guard lock(m_mutex);
        m_quit = true;
        m_pending = false;
    }
    m_gateStops = true;
    m_wake.notify_all();
    m_wantTurn.release();
    m_turn.release();
    m_thread.join();
    m_gate.join();
    // Neither thread is left to take what was released for it.
    while (m_wantTurn.try_acquire()) {}
    while (m_turn.try_acquire()) {}
    m_rested.notify_all();
}

void RestWork::gate()
{
    lowerToIdlePriority();
    for (;;) {
        m_wantTurn.acquire();
        if (m_gateStops)
            return;
        m_turn.release();
    }
}

void RestWork::placeAt(int position, bool images)
{
    if (!running() || m_quit)
        return;
    m_pending = true;
    m_images = images;
    m_at = position;
    m_for = -1;
    m_behind = 0;
    m_running = false;
    m_since = std::chrono::steady_clock::now();
    m_hurried = false;
}

void RestWork::drop()
{
    if (m_pending) {
        m_pending = false;
        m_rested.notify_all();
    }
}

void RestWork::waitUntilDone()
{
    std::unique_lock lock(m_mutex);
    m_hurried = true; // nothing to step aside for
    m_wake.notify_all();
    m_rested.wait(lock, [&] { return !m_pending; });
}

// A stretch below the place is a decode from a keyframe, and a call that comes meanwhile waits
// for its packet in hand: only once the place has stood a moment, so that a step or a wind
// right after a seek finds the decoder free.
bool RestWork::holdsBelow(int goal) const
{
    return goal >= 0 && goal < m_at && !m_running && !m_hurried && !m_task.restIntraOnly() &&
        std::chrono::steady_clock::now() < m_since + m_belowAfter;
}

void RestWork::loop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [&] { return m_quit || (m_pending && m_waiting == 0); });
        if (m_quit)
            return;
        if (holdsBelow(goal())) {
            const auto since = m_since;
            m_wake.wait_until(lock, since + m_belowAfter,
                [&] { return m_quit || m_hurried || m_since != since; });
            continue;
        }
        // Only once a core has had nothing else to do.
        lock.unlock();
        m_wantTurn.release();
        m_turn.acquire();
        lock.lock();
        if (m_quit)
            return;
        if (!m_pending || m_waiting > 0)
            continue;
        bool more = false;
        try {
            more = step();
        } catch (const std::bad_alloc &) {
            // Resting only gets ahead of what may be asked; out of memory it stops.
        }
        if (!more) {
            m_pending = false;
            m_rested.notify_all();
        }
    }
}

// The pictures after the place first; then the stretch below it. Twice at most for a place,
// so that a cache too small for them never has the work go back and forth. The second one is
// carried on to its end, not cut after its first packet.
int RestWork::goal() const
{
    const int ahead = m_task.restGoalAhead(m_at, m_images);
    if (ahead >= 0)
        return ahead;
    if (m_behind >= 2)
        return m_for >= 0 && m_for < m_at && !m_task.restHas(m_for) ? m_for : -1;
    return m_task.restGoalBelow(m_at);
}

bool RestWork::step()
{
    if (m_at < 0)
        return false;
    const int goal = this->goal();
    if (goal < 0)
        return false;
    if (goal != m_for) {
        m_for = goal;
        m_running = false;
        m_tries = 0;
        if (goal < m_at)
            ++m_behind;
        m_packets = 0;
    }
    if (m_task.restHas(goal)) // only its image is missing
        return m_task.restConvert(goal);
    // As a call would go about it, but a packet at a time; given up where a call would.
    if (!m_running) {
        if (++m_tries > 8 || !m_task.restSetOut(goal))
            return false;
        m_running = true;
    }
    if (++m_packets > m_task.restPacketLimit()) {
        m_task.restGiveUp();
        return false;
    }
    const std::optional<bool> end = m_task.restPacket(goal);
    if (!end)
        return true;
    m_running = false;
    return *end;
}

} // namespace video
