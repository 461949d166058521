#include "platform/mci/Interpreter.h"
#include "platform/mci/Surfaces.h"
#include "tests/mci/RecordingDevice.h"

#include <gtest/gtest.h>

namespace {

using mci::Result;

class Dispatcher : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(interpreter.send(QStringLiteral("open /v/a.avi type recording")).ok);
        device = devices[QStringLiteral("/v/a.avi")];
        ASSERT_TRUE(device);
    }

    Result send(const char *command) { return interpreter.send(QString::fromUtf8(command)); }

    mci::Interpreter interpreter;
    RecordingDevices devices{interpreter};
    RecordingDevice *device = nullptr;
};

// A device is named by its path or its alias; the type's case does not matter, and without
// one it is avivideo; every failure says why and opens nothing.
TEST_F(Dispatcher, OpenNamesTheDeviceOrSaysWhyNot)
{
    RecordingDevices avi(interpreter, QStringLiteral("AVIVideo"));
    EXPECT_TRUE(send("open /v/my videos/b.avi type RECORDING").ok);
    EXPECT_TRUE(send("open /v/c.avi type Recording alias clip").ok);
    EXPECT_TRUE(send("open /v/d.avi").ok);
    EXPECT_EQ(interpreter.openDevices(),
              QStringList({"/v/a.avi", "/v/my videos/b.avi", "clip", "/v/d.avi"}));
    EXPECT_TRUE(devices[QStringLiteral("clip")]);
    EXPECT_TRUE(avi[QStringLiteral("/v/d.avi")]);
    const std::pair<const char *, const char *> failures[] = {
        {"open /v/a.avi type recording", "デバイスは既に開かれています: /v/a.avi"},
        {"open /v/e.avi type mpegvideo", "デバイスの種類が分かりません: mpegvideo"},
        {"open /v/broken.avi type recording",
         "ファイルを開けません: /v/broken.avi（AVI ではありません）"},
        // A long path gives way in its folder, never in the file's name.
        {"open /home/someone/videos/real-containers/google__ExoPlayer__long-sample.broken.mp4"
         " type recording",
         "ファイルを開けません: …/real-containers/google__ExoPlayer__long-sample.broken.mp4"
         "（AVI ではありません）"},
        {"open /v/e.avi type recording alias ALL", "その名前は使えません: ALL"},
        {"play /v/e.avi from 0", "デバイスが開かれていません: /v/e.avi"},
        {"close /v/e.avi", "デバイスが開かれていません: /v/e.avi"},
        {"play /v/a.avi from 0 to 10 repeat wait", "同時には指定できません: repeat wait"},
    };
    for (const auto &[command, error] : failures)
        EXPECT_EQ(send(command).error, QString::fromUtf8(error));
    EXPECT_EQ(interpreter.openDevices().size(), 4);
    EXPECT_TRUE(device->calls.isEmpty());
}

TEST_F(Dispatcher, UpdateDrawsIntoTheRegisteredSurface)
{
    QImage picture(320, 260, QImage::Format_RGB32);
    const quint32 handle = mci::Surfaces::registerSurface(&picture);
    EXPECT_TRUE(interpreter.send(QStringLiteral("update /v/a.avi at 0 0 320 260 hdc %1")
                                     .arg(handle)).ok);
    EXPECT_EQ(device->lastSurface, &picture);
    mci::Surfaces::unregisterSurface(handle);

    const Result r = interpreter.send(
        QStringLiteral("update /v/a.avi at 0 0 320 260 hdc %1").arg(handle));
    EXPECT_EQ(r.error, QStringLiteral("描画先が見つかりません: %1").arg(handle));
    EXPECT_FALSE(send("update /v/a.avi at 0 0 1 1 hdc 0").ok);
    EXPECT_FALSE(send("update /v/a.avi at 0 0 1 1 hdc -3").ok);
    EXPECT_EQ(device->calls, QStringList({"update"}));
}

TEST_F(Dispatcher, WaitFollowsOnlyACommandThatWorked)
{
    EXPECT_TRUE(send("play /v/a.avi from 0 to 10 wait").ok);
    EXPECT_TRUE(send("seek /v/a.avi to 3 wait").ok);
    EXPECT_TRUE(send("play /v/a.avi").ok);
    device->failure = Result::failure(QStringLiteral("再生できません"));
    const Result r = send("play /v/a.avi wait");
    EXPECT_EQ(r.error, QStringLiteral("再生できません"));
    EXPECT_EQ(device->calls,
              QStringList({"play", "wait", "waited", "seek", "wait", "waited", "play", "play"}));
}

TEST_F(Dispatcher, CloseAndCloseAll)
{
    ASSERT_TRUE(send("open /v/b c.avi type recording").ok);
    ASSERT_TRUE(send("open /v/d.avi type recording").ok);
    EXPECT_TRUE(send("close /v/b c.avi").ok);
    EXPECT_TRUE(devices.journal().contains(QStringLiteral("/v/b c.avi destroyed")));
    EXPECT_EQ(interpreter.openDevices(), QStringList({"/v/a.avi", "/v/d.avi"}));
    EXPECT_FALSE(send("stop /v/b c.avi").ok);

    EXPECT_TRUE(send("close all").ok);
    EXPECT_TRUE(interpreter.openDevices().isEmpty());
    EXPECT_TRUE(devices.journal().contains(QStringLiteral("/v/a.avi destroyed")));
    EXPECT_TRUE(devices.journal().contains(QStringLiteral("/v/d.avi destroyed")));
    EXPECT_TRUE(send("close all").ok);
    // Reopening a closed name works.
    EXPECT_TRUE(send("open /v/a.avi type recording").ok);
}

TEST_F(Dispatcher, DeviceClosedInsideItsOwnWaitStopsAndLivesUntilTheWaitReturns)
{
    device->onWait = [this] {
        EXPECT_TRUE(send("close /v/a.avi").ok);
        EXPECT_FALSE(interpreter.device(QStringLiteral("/v/a.avi")));
    };
    EXPECT_TRUE(send("play /v/a.avi wait").ok);
    EXPECT_EQ(devices.journal().mid(1),
              QStringList({"/v/a.avi play", "/v/a.avi wait", "/v/a.avi stop",
                           "/v/a.avi waited", "/v/a.avi destroyed"}));
}

} // namespace
