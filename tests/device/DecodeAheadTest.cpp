#include "platform/video/play/DecodeAhead.h"
#include "tests/device/FakeFrameSource.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

namespace {

// Frames that record on which thread they were converted; conversions can be held at a gate.
class ConvertRecordingSource final : public video::FrameSource {
public:
    explicit ConvertRecordingSource(int frameCount) { m_info.frameCount = frameCount; }

    const video::VideoInfo &info() const override { return m_info; }
    QImage frameAt(int position) override { return FakeFrameSource::picture(position, 64, 48); }
    video::PicturePtr pictureAt(int position) override
    {
        std::lock_guard lock(m_mutex);
        m_decoded.insert(position);
        return std::make_shared<Pending>(this, position);
    }

    void setGate(bool open)
    {
        std::lock_guard lock(m_mutex);
        m_gateOpen = open;
        m_changed.notify_all();
    }
    void waitForConversionAtGate()
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_atGate > 0; });
    }
    std::set<int> decoded() const
    {
        std::lock_guard lock(m_mutex);
        return m_decoded;
    }
    std::map<int, std::thread::id> conversions() const // position -> its converting thread
    {
        std::lock_guard lock(m_mutex);
        return m_converted;
    }

private:
    struct Pending : video::Picture {
        Pending(ConvertRecordingSource *source, int position) : source(source), position(position)
        {
        }
        QImage toImage() const override { return source->convert(position); }
        ConvertRecordingSource *source;
        int position;
    };

    QImage convert(int position)
    {
        std::unique_lock lock(m_mutex);
        ++m_atGate;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_gateOpen; });
        --m_atGate;
        m_converted.emplace(position, std::this_thread::get_id());
        return FakeFrameSource::picture(position, 64, 48);
    }

    video::VideoInfo m_info{64, 48, 0, 25, 1, false, {}};
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_gateOpen = true;
    int m_atGate = 0;
    std::set<int> m_decoded;
    std::map<int, std::thread::id> m_converted;
};

video::PlayPlan forwardPlan(int from, int to)
{
    video::PlayPlan plan;
    plan.from = from;
    plan.to = to;
    return plan;
}

TEST(DecodeAhead, DecodesAFullQueueButConvertsOnlyTheNextFramesOffTheTakersThread)
{
    ConvertRecordingSource source(100);
    video::DecodeAhead ahead(source);
    ahead.begin(forwardPlan(0, 99), 0, 10);
    ahead.waitIdle();
    EXPECT_EQ(source.decoded(), (std::set<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    auto converted = source.conversions();
    ASSERT_EQ(int(converted.size()), video::DecodeAhead::kConvertedAhead);
    for (const auto &[position, thread] : converted) {
        EXPECT_LT(position, video::DecodeAhead::kConvertedAhead);
        EXPECT_NE(thread, std::this_thread::get_id());
    }

    const auto frame = ahead.takeUpTo(0);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->position, 0);
    EXPECT_EQ(FakeFrameSource::positionOf(frame->image), 0);
    EXPECT_NE(source.conversions().at(0), std::this_thread::get_id());
    ahead.waitIdle(); // room for one more frame, and the next to convert
    EXPECT_EQ(source.decoded().count(10), 1u);
    EXPECT_EQ(source.conversions().count(video::DecodeAhead::kConvertedAhead), 1u);
}

TEST(DecodeAhead, ALateTakerConvertsItsFrameItselfAndTheSkippedOnesNever)
{
    ConvertRecordingSource source(100);
    video::DecodeAhead ahead(source);
    ahead.begin(forwardPlan(0, 99), 0, 10);
    ahead.waitIdle(); // 0..9 decoded, 0 and 1 converted

    const auto frame = ahead.takeUpTo(5);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->position, 5);
    EXPECT_EQ(FakeFrameSource::positionOf(frame->image), 5);
    ahead.waitIdle();
    const auto converted = source.conversions();
    EXPECT_EQ(converted.at(5), std::this_thread::get_id());
    for (int skipped : {2, 3, 4})
        EXPECT_EQ(converted.count(skipped), 0u) << skipped;
    EXPECT_EQ(converted.count(6), 1u); // the convert thread went on from the next one
}

TEST(DecodeAhead, ATakerWaitsForTheFrameTheConvertThreadIsOn)
{
    ConvertRecordingSource source(100);
    source.setGate(false);
    video::DecodeAhead ahead(source);
    ahead.begin(forwardPlan(0, 99), 0, 4);
    source.waitForConversionAtGate(); // the convert thread holds frame 0

    std::optional<video::DecodeAhead::Frame> taken;
    std::thread taker([&] { taken = ahead.takeUpTo(0); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    source.setGate(true);
    taker.join();
    ASSERT_TRUE(taken);
    EXPECT_EQ(FakeFrameSource::positionOf(taken->image), 0);
    EXPECT_NE(source.conversions().at(0), taker.get_id());
}

TEST(DecodeAhead, HaltAndDestructionDuringAConversionEndCleanly)
{
    ConvertRecordingSource source(100);
    source.setGate(false);
    std::thread opener;
    {
        video::DecodeAhead ahead(source);
        ahead.begin(forwardPlan(0, 99), 0, 4);
        source.waitForConversionAtGate();
        ahead.halt();
        EXPECT_FALSE(ahead.takeUpTo(50)); // the queue went with the play
        opener = std::thread([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            source.setGate(true);
        });
        // The destructor waits for the conversion in hand, then both threads end: a hang
        // here is the fault (the test's time limit catches it).
    }
    opener.join();
    EXPECT_EQ(source.conversions().count(0), 1u);
}

} // namespace
