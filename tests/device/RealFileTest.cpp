#include "platform/video/Registration.h"
#include "platform/video/device/VideoDevice.h"
#include "platform/mci/Interpreter.h"
#include "tests/device/DeviceRig.h"
#include "tests/support/AviCorpus.h"

#include <gtest/gtest.h>

namespace {

// The device over the real decoding core, on files the corpus generates.

// A phone's variable rate: every 7th picture of 25 fps left out (n = 3, 10 ...). In ms a
// position is its picture's own time, and a time shows the picture on screen then.
TEST(AviRealFile, MillisecondsFollowEachPicturesOwnTime)
{
    mci::Interpreter interpreter;
    video::registerVideoDevice(interpreter);
    const auto send = [&](const QString &command) {
        const mci::Result r = interpreter.send(command);
        EXPECT_TRUE(r.ok) << command.toStdString() << ": " << r.error.toStdString();
        return r.reply;
    };
    QString error;
    const QString path = AviCorpus::generate(QStringLiteral("vfr-ms"),
        {"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25", "-vf",
            "select='not(eq(mod(n\\,7)\\,3))'", "-fps_mode", "vfr", "-frames:v", "30",
            "-c:v", "libx264", "-f", "mp4"},
        &error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();
    send("open " + path + " alias v");
    send("set v time format ms");
    const struct {
        int ms;
        const char *shown; // the time of the picture on screen then
        const char *frame;
    } cases[] = {{120, "80", "2"}, {160, "160", "3"}, {159, "80", "2"}, {0, "0", "0"},
        {1360, "1360", "29"}};
    for (const auto &c : cases) {
        send("seek v to " + QString::number(c.ms));
        EXPECT_EQ(send("status v position"), c.shown) << c.ms;
        send("set v time format frames");
        EXPECT_EQ(send("status v position"), c.frame) << c.ms;
        send("set v time format ms");
    }
    EXPECT_FALSE(interpreter.send("seek v to " + send("status v length") + "1").ok);
}

TEST(AviRealPlayback, ReversePlayOfAnH264FileShowsEveryFrameExactly)
{
    QString error;
    const QString path = AviCorpus::file(AviCorpus::Kind::H264, &error);
    ASSERT_FALSE(path.isEmpty()) << error.toStdString();
    std::unique_ptr<video::FrameSource> source = video::openFrameSource(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    std::unique_ptr<video::FrameSource> reference = video::openFrameSource(path, &error);
    ASSERT_TRUE(reference);

    auto clock = std::make_shared<video::ManualClock>();
    video::VideoDevice::Options options;
    options.clock = clock;
    options.player.autoTick = false;
    video::VideoDevice device(path, std::move(source), nullptr, options);
    video::Player &player = device.player();

    // Across two keyframe boundaries (50, 100) and B-frames, backwards.
    ASSERT_TRUE(device.play(range(120, 30, true)).ok);
    // One frame period, rounded up so that whole periods never fall short of a frame.
    const auto period = std::chrono::nanoseconds(1001000000LL / 30 + 1);
    int expected = 120;
    int mismatches = 0;
    for (int n = 0; n <= 90 && player.mode() == video::Player::Mode::Playing; ++n) {
        if (n > 0)
            clock->advance(period);
        player.waitForDecoder();
        player.tick();
        EXPECT_EQ(player.position(), expected);
        if (player.picture().convertToFormat(QImage::Format_RGB32)
            != reference->frameAt(expected).convertToFormat(QImage::Format_RGB32))
            ++mismatches;
        --expected;
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(player.mode(), video::Player::Mode::Stopped);
    EXPECT_EQ(player.position(), 30);
    EXPECT_EQ(player.framesSkipped(), 0);
}

} // namespace
