#pragma once

#include "platform/video/FrameSource.h"
#include "platform/video/audio/AudioTrack.h"
#include "platform/video/play/ClockSource.h"

#include <QColor>
#include <QImage>
#include <QPainter>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>
#include <vector>

// A frame source whose every frame says which position it is: the top-left quadrant's red
// and green hold the position, the other three quadrants have fixed colours, so a test can
// read the position back from any copy of the picture, scaled or not.
class FakeFrameSource final : public video::FrameSource {
public:
    FakeFrameSource(int frameCount, int width = 64, int height = 48, int rateNum = 25,
        int rateDen = 1)
    {
        m_info.width = width;
        m_info.height = height;
        m_info.frameCount = frameCount;
        m_info.rateNum = rateNum;
        m_info.rateDen = rateDen;
    }

    const video::VideoInfo &info() const override { return m_info; }

    QImage frameAt(int position) override
    {
        if (std::this_thread::get_id() != m_owner) {
            std::unique_lock lock(m_holdMutex);
            const auto held = [&] { return m_held || position == m_heldAt; };
            if (held()) {
                ++m_waiting;
                m_holdChanged.notify_all();
                m_holdChanged.wait(lock, [&] { return !held(); });
                --m_waiting;
            }
        }
        if (m_clock && m_cost.count() > 0)
            m_clock->advance(m_cost); // decoding "takes" this long on the test's clock
        {
            std::lock_guard lock(m_mutex);
            if (m_keyframeEvery > 0 && (position < m_runLow || position > m_runHigh)) {
                // A decode from the keyframe up to the position, which keeps the frames.
                m_runLow = position - position % m_keyframeEvery;
                m_runHigh = position;
                m_decoded += position - m_runLow + 1;
                m_clock->advance(m_perFrame * (position - m_runLow + 1));
            }
            m_requested.push_back(position);
            if (m_broken.count(position))
                return {};
        }
        return picture(position, m_info.width, m_info.height);
    }

    static QImage picture(int position, int width, int height)
    {
        QImage image(width, height, QImage::Format_RGB32);
        QPainter p(&image);
        const int w = width / 2;
        const int h = height / 2;
        p.fillRect(0, 0, w, h, QColor(position % 256, (position / 256) % 256, 77));
        p.fillRect(w, 0, width - w, h, QColor(250, 0, 0));
        p.fillRect(0, h, w, height - h, QColor(0, 250, 0));
        p.fillRect(w, h, width - w, height - h, QColor(0, 0, 250));
        return image;
    }
    // The position a picture (at any size) shows, read from its top-left quadrant.
    static int positionOf(const QImage &image)
    {
        const QColor c = image.pixelColor(image.width() / 8, image.height() / 8);
        return c.red() + 256 * c.green();
    }

    // Make every decode cost this much of `clock`'s time.
    void setCost(std::shared_ptr<video::ManualClock> clock, std::chrono::nanoseconds cost)
    {
        m_clock = std::move(clock);
        m_cost = cost;
    }
    // Make every frame a decode from the keyframe before it, at `perFrame` of `clock`'s
    // time for each frame from there, unless the last such decode passed it.
    void setRuns(std::shared_ptr<video::ManualClock> clock, int keyframeEvery,
        std::chrono::nanoseconds perFrame)
    {
        m_clock = std::move(clock);
        m_keyframeEvery = keyframeEvery;
        m_perFrame = perFrame;
    }
    bool isKeyframe(int position) const override
    {
        return m_keyframeEvery > 0 && position % m_keyframeEvery == 0;
    }
    Stats stats() const override
    {
        std::lock_guard lock(m_mutex);
        Stats s;
        s.framesDecoded = m_decoded;
        return s;
    }
    // While held, decodes on any thread but the one that made the source do not return:
    // all of them, or (holdAt) those of one position, as a decode from a far keyframe would
    // keep the decode thread. Releasing either releases both.
    void hold(bool held)
    {
        {
            std::lock_guard lock(m_holdMutex);
            m_held = held;
            if (!held)
                m_heldAt = -1;
        }
        m_holdChanged.notify_all();
    }
    void holdAt(int position)
    {
        std::lock_guard lock(m_holdMutex);
        m_heldAt = position;
    }
    // Until a decode is held.
    void waitUntilHeld()
    {
        std::unique_lock lock(m_holdMutex);
        m_holdChanged.wait(lock, [this] { return m_waiting > 0; });
    }
    void breakFrame(int position)
    {
        std::lock_guard lock(m_mutex);
        m_broken.insert(position);
    }
    std::vector<int> requested()
    {
        std::lock_guard lock(m_mutex);
        return m_requested;
    }
    void restAt(int position) override
    {
        std::lock_guard lock(m_mutex);
        m_rests.push_back(position);
    }
    void setCacheCapBytes(qint64 bytes) override // the player's thread
    {
        cacheCap = bytes;
        capsSet.push_back(bytes);
    }
    qint64 cacheCap = 0;
    std::vector<qint64> capsSet;
    // The places of rest marked since the last call.
    std::vector<int> takeRests()
    {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_rests, {});
    }

private:
    video::VideoInfo m_info;
    std::shared_ptr<video::ManualClock> m_clock;
    std::chrono::nanoseconds m_cost{0};
    int m_keyframeEvery = 0;
    std::chrono::nanoseconds m_perFrame{0};
    int m_runLow = -1;
    int m_runHigh = -2;
    qint64 m_decoded = 0;
    mutable std::mutex m_mutex;
    std::vector<int> m_requested;
    std::vector<int> m_rests;
    std::set<int> m_broken;
    const std::thread::id m_owner = std::this_thread::get_id();
    std::mutex m_holdMutex;
    std::condition_variable m_holdChanged;
    bool m_held = false;
    int m_heldAt = -1;
    int m_waiting = 0;
};

// A sound track on the test's clock: after start(from, speed) its clock reads
// from + elapsed * speed / 1000, plus a drift the test may set to see who leads.
class FakeAudioTrack final : public video::AudioTrack {
public:
    explicit FakeAudioTrack(std::shared_ptr<video::ManualClock> clock)
        : m_clock(std::move(clock))
    {
    }

    bool start(double fromSeconds, int speed) override
    {
        ++starts;
        if (refuse || speed < 250 || speed > 3000)
            return false;
        m_playing = true;
        *soundOn = true;
        m_from = fromSeconds;
        m_speed = speed;
        m_started = m_clock->now();
        lastStartSeconds = fromSeconds;
        return true;
    }
    void stop() override
    {
        m_playing = false;
        *soundOn = false;
    }
    void setMuted(bool muted) override { this->muted = muted; }
    std::optional<double> clockSeconds() const override
    {
        if (!m_playing)
            return std::nullopt;
        const double elapsed = std::chrono::duration<double>(m_clock->now() - m_started).count();
        return m_from + elapsed * m_speed / 1000.0 + drift;
    }
    bool audible() const override { return false; }

    bool playing() const { return m_playing; }

    // Outlives the track, so a test can see that closing the device left nothing playing.
    std::shared_ptr<bool> soundOn = std::make_shared<bool>(false);
    bool refuse = false;
    bool muted = false;
    double drift = 0.0;
    int starts = 0;
    double lastStartSeconds = -1.0;

private:
    std::shared_ptr<video::ManualClock> m_clock;
    bool m_playing = false;
    double m_from = 0.0;
    int m_speed = 1000;
    video::SteadyTime m_started{};
};
