#pragma once

#include "platform/video/device/VideoDevice.h"
#include "tests/device/FakeFrameSource.h"

#include <chrono>
#include <memory>

// A video device over a fake source, on a hand-driven clock. Without autoTick nothing moves
// unless the test advances the clock and calls step().
struct DeviceRig {
    explicit DeviceRig(int frameCount = 100, bool withAudio = false, bool autoTick = false,
        int width = 64, int height = 48, video::Player::Options player = {})
    {
        auto fake = std::make_unique<FakeFrameSource>(frameCount, width, height);
        source = fake.get();
        player.autoTick = autoTick;
        make(std::move(fake), withAudio, player);
    }
    // Over any source (a real file's), with the fake sound when asked.
    DeviceRig(std::unique_ptr<video::FrameSource> any, bool withAudio)
    {
        video::Player::Options player;
        player.autoTick = false;
        make(std::move(any), withAudio, player);
    }

    void make(std::unique_ptr<video::FrameSource> any, bool withAudio,
        video::Player::Options player)
    {
        // The same machine wherever the tests run: 8 GiB available, no address-space limit.
        if (!player.machineMemory)
            player.machineMemory = [] { return video::MachineMemory{qint64(8) << 30, -1}; };
        std::unique_ptr<video::AudioTrack> track;
        if (withAudio) {
            auto fakeAudio = std::make_unique<FakeAudioTrack>(clock);
            audio = fakeAudio.get();
            track = std::move(fakeAudio);
        }
        video::VideoDevice::Options options;
        options.clock = clock;
        options.player = player;
        device = std::make_unique<video::VideoDevice>(QStringLiteral("/tmp/some dir/clip.avi"),
            std::move(any), std::move(track), options);
    }

    video::Player &player() { return device->player(); }

    // Let the decoder do what it can, then one presentation step.
    void step()
    {
        player().waitForDecoder();
        player().tick();
    }
    // Advance the clock by `frames` frame periods of the fake's 25 fps, stepping after each
    // whole period and after the rest, as a presentation timer would.
    void advance(double frames)
    {
        for (; frames > 0; frames -= 1)
            advanceOnce(std::min(frames, 1.0));
    }
    void advanceOnce(double frames)
    {
        clock->advance(std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::chrono::duration<double>(frames / 25.0)));
        step();
    }
    // Whole frame periods until the play ends; -1 when it has not ended after `limit`.
    int periodsUntilStopped(int limit = 100000)
    {
        for (int n = 1; n <= limit; ++n) {
            advance(1);
            if (player().mode() != video::Player::Mode::Playing)
                return n;
        }
        return -1;
    }
    QString reply(mci::StatusItem item) { return device->status(item).reply; }
    int position() { return reply(mci::StatusItem::Position).toInt(); }
    QString mode() { return reply(mci::StatusItem::Mode); }
    // The position the picture on show belongs to.
    int shownPosition() { return FakeFrameSource::positionOf(player().picture()); }

    std::shared_ptr<video::ManualClock> clock = std::make_shared<video::ManualClock>();
    FakeFrameSource *source = nullptr; // null over another source
    FakeAudioTrack *audio = nullptr;
    std::unique_ptr<video::VideoDevice> device;
};

inline mci::PlayRequest range(std::optional<qint32> from, std::optional<qint32> to,
    bool reverse = false, bool repeat = false)
{
    mci::PlayRequest r;
    r.from = from;
    r.to = to;
    r.reverse = reverse;
    r.repeat = repeat;
    return r;
}

inline mci::SeekRequest seekTo(qint32 position)
{
    return {mci::SeekRequest::Kind::To, position};
}
