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

TEST_F(Dispatcher, OpenNamesTheDeviceByPathOrAlias)
{
    EXPECT_TRUE(send("open /v/my videos/b.avi type RECORDING").ok);
    EXPECT_TRUE(send("open /v/c.avi type Recording alias clip").ok);
    EXPECT_EQ(interpreter.openDevices(),
              QStringList({"/v/a.avi", "/v/my videos/b.avi", "clip"}));
    EXPECT_TRUE(devices[QStringLiteral("clip")]);
    EXPECT_TRUE(devices.journal().contains(QStringLiteral("/v/c.avi opened")));
}

TEST_F(Dispatcher, OpenFailuresSayWhy)
{
    Result r = send("open /v/a.avi type recording");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, QStringLiteral("デバイスは既に開かれています: /v/a.avi"));

    r = send("open /v/b.avi type mpegvideo");
    EXPECT_EQ(r.error, QStringLiteral("デバイスの種類が分かりません: mpegvideo"));
    // No type: avivideo, which this interpreter does not know.
    r = send("open /v/b.avi");
    EXPECT_EQ(r.error, QStringLiteral("デバイスの種類が分かりません: avivideo"));

    r = send("open /v/broken.avi type recording");
    EXPECT_EQ(r.error, QStringLiteral("ファイルを開けません: /v/broken.avi（AVI ではありません）"));
    r = send("open /v/b.avi type recording alias ALL");
    EXPECT_EQ(r.error, QStringLiteral("その名前は使えません: ALL"));
    EXPECT_EQ(interpreter.openDevices(), QStringList({"/v/a.avi"}));
}

TEST_F(Dispatcher, DefaultTypeIsAviVideoWhateverCaseItWasRegisteredIn)
{
    RecordingDevices avi(interpreter, QStringLiteral("AVIVideo"));
    EXPECT_TRUE(send("open /v/b.avi").ok);
    EXPECT_TRUE(avi[QStringLiteral("/v/b.avi")]);
}

TEST_F(Dispatcher, PlayReachesTheDeviceTyped)
{
    EXPECT_TRUE(send("play /v/a.avi from 10 to 0 reverse repeat").ok);
    ASSERT_TRUE(device->lastPlay);
    EXPECT_EQ(device->lastPlay->from, 10);
    EXPECT_EQ(device->lastPlay->to, 0);
    EXPECT_TRUE(device->lastPlay->reverse);
    EXPECT_TRUE(device->lastPlay->repeat);

    EXPECT_TRUE(send("play /v/a.avi").ok);
    EXPECT_FALSE(device->lastPlay->from);
    EXPECT_FALSE(device->lastPlay->to);
    EXPECT_FALSE(device->lastPlay->reverse);
    EXPECT_FALSE(device->lastPlay->repeat);
    EXPECT_EQ(device->calls, QStringList({"play", "play"}));
}

TEST_F(Dispatcher, TransportSeekAndSettingsReachTheirCalls)
{
    EXPECT_TRUE(send("pause /v/a.avi").ok);
    EXPECT_TRUE(send("stop /v/a.avi").ok);
    EXPECT_TRUE(send("seek /v/a.avi to 42").ok);
    EXPECT_EQ(device->lastSeek->kind, mci::SeekRequest::Kind::To);
    EXPECT_EQ(device->lastSeek->position, 42);
    EXPECT_TRUE(send("seek /v/a.avi to end").ok);
    EXPECT_EQ(device->lastSeek->kind, mci::SeekRequest::Kind::End);
    EXPECT_TRUE(send("seek /v/a.avi to start").ok);
    EXPECT_EQ(device->lastSeek->kind, mci::SeekRequest::Kind::Start);
    EXPECT_TRUE(send("set /v/a.avi time format ms").ok);
    EXPECT_EQ(device->lastTimeFormat, mci::TimeFormat::Milliseconds);
    EXPECT_TRUE(send("set /v/a.avi time format frames").ok);
    EXPECT_EQ(device->lastTimeFormat, mci::TimeFormat::Frames);
    EXPECT_TRUE(send("set /v/a.avi speed 3000").ok);
    EXPECT_EQ(device->lastSpeed, 3000);
    EXPECT_TRUE(send("set /v/a.avi audio all off").ok);
    EXPECT_EQ(device->lastAudio, false);
    EXPECT_TRUE(send("put /v/a.avi window at 352 254 320 260").ok);
    EXPECT_EQ(device->lastRect->left, 352);
    EXPECT_EQ(device->lastRect->top, 254);
    EXPECT_EQ(device->lastRect->width, 320);
    EXPECT_EQ(device->lastRect->height, 260);
    EXPECT_TRUE(send("capture /v/a.avi as /tmp/my shots/f.bmp").ok);
    EXPECT_EQ(device->lastCapturePath, QStringLiteral("/tmp/my shots/f.bmp"));
    EXPECT_EQ(device->calls,
              QStringList({"pause", "stop", "seek", "seek", "seek", "setTimeFormat",
                           "setTimeFormat", "setSpeed", "setAudio", "putWindow", "capture"}));
}

TEST_F(Dispatcher, StatusWhereAndCapabilityReplyFromTheDevice)
{
    device->statusReplies = {{mci::StatusItem::Length, "250"},
                             {mci::StatusItem::Mode, "playing"},
                             {mci::StatusItem::FramesSkipped, "3"}};
    EXPECT_EQ(send("status /v/a.avi length").reply, QStringLiteral("250"));
    EXPECT_EQ(device->lastStatus, mci::StatusItem::Length);
    EXPECT_EQ(send("status /v/a.avi mode").reply, QStringLiteral("playing"));
    EXPECT_EQ(send("status /v/a.avi frames skipped").reply, QStringLiteral("3"));
    EXPECT_EQ(device->lastStatus, mci::StatusItem::FramesSkipped);
    send("status /v/a.avi frame rate");
    EXPECT_EQ(device->lastStatus, mci::StatusItem::FrameRate);

    device->sourceReply = QStringLiteral("0 0 640 480");
    EXPECT_EQ(send("where /v/a.avi source").reply, QStringLiteral("0 0 640 480"));
    EXPECT_EQ(send("capability /v/a.avi can play").reply, QStringLiteral("true"));
    device->playable = false;
    EXPECT_EQ(send("capability /v/a.avi can play").reply, QStringLiteral("false"));
}

TEST_F(Dispatcher, UpdateDrawsIntoTheRegisteredSurface)
{
    QImage picture(320, 260, QImage::Format_RGB32);
    const quint32 handle = mci::Surfaces::registerSurface(&picture);
    EXPECT_TRUE(interpreter.send(QStringLiteral("update /v/a.avi at 0 0 320 260 hdc %1")
                                     .arg(handle)).ok);
    EXPECT_EQ(device->lastSurface, &picture);
    EXPECT_EQ(device->lastRect->height, 260);
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

TEST_F(Dispatcher, CommandsToADeviceNotOpenFail)
{
    EXPECT_EQ(send("play /v/b.avi from 0").error,
              QStringLiteral("デバイスが開かれていません: /v/b.avi"));
    EXPECT_EQ(send("close /v/b.avi").error,
              QStringLiteral("デバイスが開かれていません: /v/b.avi"));
    EXPECT_TRUE(device->calls.isEmpty());
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

TEST_F(Dispatcher, RepeatWithWaitIsRefusedBeforeTheDeviceHearsOfIt)
{
    const Result r = send("play /v/a.avi from 0 to 10 repeat wait");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, QStringLiteral("同時には指定できません: repeat wait"));
    EXPECT_EQ(devices.journal().size(), 1); // the open only
}

TEST_F(Dispatcher, ExecuteReportsFailuresSendDoesNot)
{
    QStringList reported;
    interpreter.setErrorReporter([&](const QString &command, const QString &message) {
        reported << command + QLatin1Char('|') + message;
    });
    EXPECT_FALSE(send("play /v/b.avi").ok);
    EXPECT_TRUE(interpreter.execute(QStringLiteral("stop /v/a.avi")).ok);
    EXPECT_TRUE(reported.isEmpty());
    const Result r = interpreter.execute(QStringLiteral("frobnicate"));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(reported, QStringList({"frobnicate|コマンドが分かりません: frobnicate"}));
}

TEST_F(Dispatcher, AnyTextAtAllIsAResultNeverACrash)
{
    const QString nul(QChar(0));
    const QStringList garbage = {
        QString(), QStringLiteral(" "), QStringLiteral("\t\t"), QStringLiteral("\""),
        QStringLiteral("\"\""), QStringLiteral("\"\" \"\""), QStringLiteral("open \""),
        QStringLiteral("open \"\" type recording"), QStringLiteral("play \""),
        QStringLiteral("play \"/v/a.avi"), QStringLiteral("close \"\""),
        QStringLiteral("play /v/a.avi from 99999999999999999999999999"),
        QStringLiteral("seek /v/a.avi to -"), nul, QStringLiteral("play ") + nul,
        QStringLiteral("play /v/a.avi") + nul, QStringLiteral("open ") + nul,
        QStringLiteral("status /v/a.avi\r\nlength"), QString(200'000, QLatin1Char('"')),
        QStringLiteral("play ") + QString(200'000, QLatin1Char(' ')) + QStringLiteral("x"),
        QStringLiteral("open a") + QString(100'000, QLatin1Char(' ')) + QStringLiteral("b"),
        QStringLiteral("update /v/a.avi at 0 0 1 1 hdc 4294967295"),
    };
    for (const QString &text : garbage) {
        const Result r = interpreter.send(text);
        EXPECT_FALSE(r.ok) << qPrintable(text.left(40));
        EXPECT_FALSE(r.error.isEmpty());
        EXPECT_LT(r.error.size(), 200);
    }
    EXPECT_TRUE(device->calls.isEmpty());
}

} // namespace
