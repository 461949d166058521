#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <semaphore>
#include <thread>

namespace video {

// The work at rest: what gets done at the place of rest (the last picture asked for as a
// place, where the picture stands still) while nothing is asked. First the pictures after it
// and the next one's image; once the place has stood `belowAfter`, the stretch below it that
// a jump left undecoded or a walk down is about to need (the refill), at most twice a place.
//
// A thread carries on from the place, one packet under the source's lock at a time, each only
// once a second thread, at idle priority (the idle gate), has got to run: a packet is decoded
// only when a core had nothing else to do. The one that decodes is not itself at idle
// priority, since a call may wait for its packet and a thread at idle priority can go without
// a core for seconds while other programs keep both busy (and cannot be raised again without
// privileges). A call announces itself before it takes the lock (`callWaits`) and the work
// steps aside between two packets, so a call waits for one packet's decode at most, and the
// work picks up at the new place once the call is done.
class RestWork {
public:
    // What the work asks of the source, always under its lock.
    class Task {
    public:
        // The next picture after the place to make sure of, and with `images` the next one's
        // image; -1 when there is none to go for.
        virtual int restGoalAhead(int place, bool images) const = 0;
        // The highest picture missing in the stretch below the place, or -1.
        virtual int restGoalBelow(int place) const = 0;
        // Whether what is shown at the position is known and its picture kept.
        virtual bool restHas(int position) const = 0;
        // Whether every packet is a keyframe: then nothing below the place costs a run.
        virtual bool restIntraOnly() const = 0;
        // Converts the kept picture at the position; whether its image is now kept.
        virtual bool restConvert(int position) = 0;
        // Sets out for the position as a call would; false where a call would give up.
        virtual bool restSetOut(int position) = 0;
        // One packet towards the position: nothing while the run goes on, else whether it
        // ended well.
        virtual std::optional<bool> restPacket(int position) = 0;
        // Ends a run that went on for more packets than the file has.
        virtual void restGiveUp() = 0;
        virtual int restPacketLimit() const = 0;

    protected:
        ~Task() = default;
    };

    RestWork(std::mutex &mutex, Task &task, std::chrono::milliseconds belowAfter);
    ~RestWork() { stop(); }
    RestWork(const RestWork &) = delete;
    RestWork &operator=(const RestWork &) = delete;

    bool running() const { return m_thread.joinable(); }
    void start();
    // Takes the lock.
    void stop();

    // A call's hold on the lock: announced before it is taken, woken again once done.
    void callWaits() const { ++m_waiting; }
    void callIn() const { --m_waiting; }
    void callDone() const { m_wake.notify_all(); }

    // Under the lock: a new place of rest; `images`: the place was a frameAt, so its next
    // picture is wanted as an image too.
    void placeAt(int position, bool images);
    // Under the lock: what was left to do is not wanted now.
    void drop();
    // Takes the lock: waits until nothing is left to do.
    void waitUntilDone();

private:
    void loop();
    void gate();
    // Whether to wait for the place to stand before going below it.
    bool holdsBelow(int goal) const;
    // One packet's worth (or one conversion) of the work; false when none is left.
    bool step();
    int goal() const;

    std::mutex &m_mutex;
    Task &m_task;
    const std::chrono::milliseconds m_belowAfter;

    // Guarded by m_mutex, except m_waiting, the semaphores and m_gateStops.
    mutable std::atomic<int> m_waiting{0}; // calls waiting for the lock
    mutable std::condition_variable m_wake;
    std::condition_variable m_rested;
    std::thread m_thread;
    std::thread m_gate;                       // at idle priority: lets the work go a packet on
    std::counting_semaphore<4> m_wantTurn{0}; // the work asks the gate
    std::counting_semaphore<4> m_turn{0};     // the gate answers
    std::atomic<bool> m_gateStops{false};
    bool m_quit = false;
    bool m_pending = false; // work left at the place
    bool m_images = false;
    int m_at = -1;          // the place
    std::chrono::steady_clock::time_point m_since; // when the place was set
    bool m_hurried = false; // someone waits for the work to be done: no standing first
    int m_for = -1;         // the goal the running work is for
    bool m_running = false; // a run towards it is under way
    int m_tries = 0;        // runs set out towards it
    int m_behind = 0;       // goals below the place gone for
    int m_packets = 0;      // packets sent towards it
};

} // namespace video
