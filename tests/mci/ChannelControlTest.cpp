#include "media/BusySign.h"
#include "media/InterpreterChannel.h"
#include "media/InterpreterControl.h"
#include "platform/mci/Interpreter.h"
#include "tests/mci/RecordingDevice.h"
#include "tests/mci/TraceFile.h"

#include <QDir>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>

namespace {

// The real channel and control on an interpreter with a recording device type. The trace
// shows the exact text each one sent, and what came back.
class OnInterpreter : public ::testing::Test {
protected:
    OnInterpreter()
    {
        devices.defaultStatus = {{mci::StatusItem::Length, QStringLiteral("250")},
                                 {mci::StatusItem::Position, QStringLiteral("17")}};
        interpreter.setErrorReporter([this](const QString &command, const QString &message) {
            reported << command + QLatin1Char('|') + message;
        });
    }
    void openOnControl(const QString &file)
    {
        control.setDeviceType(QStringLiteral("Recording"));
        control.setFileName(file);
        control.setCommand(QStringLiteral("Open"));
    }

    TraceFile trace; // before the interpreter, which reads the variable when built
    mci::Interpreter interpreter;
    RecordingDevices devices{interpreter};
    InterpreterChannel channel{interpreter};
    InterpreterControl control{interpreter};
    QStringList reported;
};

// A failed execute goes to the layer's error box; a send string shows nothing, cuts the
// reply to the buffer and leaves it empty on failure.
TEST_F(OnInterpreter, ChannelExecuteReportsAndSendStringCutsTheReply)
{
    EXPECT_TRUE(channel.mciExecute(QStringLiteral("open /v/a b.avi type recording")));
    EXPECT_TRUE(channel.mciExecute(QStringLiteral("play /v/a b.avi from 0 to 10")));
    EXPECT_FALSE(channel.mciExecute(QStringLiteral("play /v/c.avi")));
    EXPECT_EQ(reported, QStringList({"play /v/c.avi|デバイスが開かれていません: /v/c.avi"}));
    EXPECT_EQ(devices[QStringLiteral("/v/a b.avi")]->calls, QStringList{"play"});

    QString buffer;
    const QString where = QStringLiteral("where /v/a b.avi source");
    for (const auto &[size, reply] : {std::pair{1024, "0 0 320 240"}, {6, "0 0 3"}, {0, ""}}) {
        EXPECT_EQ(channel.mciSendString(where, buffer, size), 0);
        EXPECT_EQ(buffer, QString::fromLatin1(reply));
    }
    buffer = QStringLiteral("stale");
    EXPECT_NE(channel.mciSendString(QStringLiteral("where /v/b.avi source"), buffer, 1024), 0);
    EXPECT_EQ(buffer, QString());
    EXPECT_EQ(reported.size(), 1);
}

// The control's commands and reads as text, with the path of its last "Open" (quoted there)
// as the device name; nothing is sent while nothing is open.
TEST_F(OnInterpreter, ControlSendsOpenReadsSeekAndClose)
{
    EXPECT_FALSE(control.canPlay());
    EXPECT_EQ(control.length(), 0);
    control.setCommand(QStringLiteral("Close")); // the panel closes before its first open
    EXPECT_TRUE(trace.lines().isEmpty());
    const QString file = QStringLiteral("/v/my videos/猫.avi");
    openOnControl(file);
    EXPECT_TRUE(control.canPlay());
    EXPECT_EQ(control.length(), 250);
    EXPECT_EQ(control.position(), 17);
    control.setTo(42);
    control.setCommand(QStringLiteral("seek"));
    control.setFileName(QStringLiteral("/v/b.avi")); // written before the old file is closed
    control.setCommand(QStringLiteral("Close"));
    control.setCommand(QStringLiteral("Close"));
    EXPECT_EQ(trace.lines(), QStringList({
                                 "open \"/v/my videos/猫.avi\" type Recording\t",
                                 "capability /v/my videos/猫.avi can play\ttrue",
                                 "status /v/my videos/猫.avi length\t250",
                                 "status /v/my videos/猫.avi position\t17",
                                 "seek /v/my videos/猫.avi to 42\t",
                                 "close /v/my videos/猫.avi\t",
                             }));
    openOnControl(QStringLiteral("/v/say \"hi\".avi"));
    EXPECT_EQ(interpreter.openDevices(), QStringList({"/v/say \"hi\".avi"}));
    EXPECT_TRUE(reported.isEmpty());
}

// An open that fails goes to the error box; reads fall back to false or 0, and reads and
// seeks stay quiet (a wind over refused seeks must not raise a box at each step).
TEST_F(OnInterpreter, ControlFailuresAreQuietButTheOpens)
{
    openOnControl(QStringLiteral("/v/broken.avi"));
    EXPECT_EQ(reported, QStringList({"open \"/v/broken.avi\" type Recording|"
                                     "ファイルを開けません: /v/broken.avi（AVI ではありません）"}));
    EXPECT_FALSE(control.canPlay());
    EXPECT_EQ(control.length(), 0);
    reported.clear();
    openOnControl(QStringLiteral("/v/a.avi"));
    RecordingDevice *device = devices[QStringLiteral("/v/a.avi")];
    // A play that stopped at a frame it could not read answers the next command with that;
    // the position read behind it is still the picture's, as after a refused seek.
    device->statusReplies[mci::StatusItem::Position] = QStringLiteral("17");
    device->nextFailure = mci::Result::failure(QStringLiteral("再生を止めました"));
    EXPECT_EQ(control.position(), 17);
    device->statusReplies[mci::StatusItem::Position] = QStringLiteral("not a number");
    EXPECT_EQ(control.position(), 0);
    device->failure = mci::Result::failure(QStringLiteral("壊れています"));
    EXPECT_EQ(control.length(), 0);
    device->playable = false;
    EXPECT_FALSE(control.canPlay());
    control.setTo(5);
    control.setCommand(QStringLiteral("seek"));
    EXPECT_TRUE(reported.isEmpty());
}

// A command that lasts past the moment shows the busy sign until it ends, and only then; one
// that ends at once shows nothing. The device's seek holds until the sign is up.
TEST_F(OnInterpreter, ALongCommandShowsTheBusySignUntilItEnds)
{
    std::mutex mutex;
    std::condition_variable changed;
    QList<bool> signs;
    BusySign::setIndicator([&](bool busy) {
        std::lock_guard lock(mutex);
        signs << busy;
        changed.notify_all();
    });
    openOnControl(QStringLiteral("/v/a.avi"));
    RecordingDevice *device = devices[QStringLiteral("/v/a.avi")];
    control.position();
    channel.mciExecute(QStringLiteral("stop /v/a.avi"));
    QList<bool> during;
    const auto started = std::chrono::steady_clock::now();
    device->onCall = [&](const QString &call) {
        if (call != QLatin1String("seek"))
            return;
        std::unique_lock lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return !signs.isEmpty(); });
        during = signs;
    };
    control.setTo(5);
    control.setCommand(QStringLiteral("seek"));
    BusySign::setIndicator({});
    EXPECT_GE(std::chrono::steady_clock::now() - started, BusySign::kDelay);
    EXPECT_EQ(during, QList<bool>{true});
    EXPECT_EQ(signs, (QList<bool>{true, false}));
}

// Appended to what is there, one line per command with its reply or error, by every
// interpreter; tab, CR, LF and backslash escaped so that a command stays one line.
TEST(Trace, OneEscapedLinePerCommandWithReplyOrError)
{
    TraceFile trace;
    {
        QFile file(trace.path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("earlier\t\n");
    }
    mci::Interpreter interpreter;
    RecordingDevices devices(interpreter);
    interpreter.send(QStringLiteral("open C:\\v\\a.avi type recording"));
    RecordingDevice *device = devices[QStringLiteral("C:\\v\\a.avi")];
    device->statusReplies = {{mci::StatusItem::Length, QStringLiteral("250")}};
    device->sourceReply = QStringLiteral("0\t0\n320\r240");
    interpreter.send(QStringLiteral("status C:\\v\\a.avi length"));
    interpreter.send(QStringLiteral("where\tC:\\v\\a.avi\tsource"));
    interpreter.execute(QStringLiteral("  play nothing  "));
    interpreter.send(QString());
    interpreter.send(QStringLiteral("stop x\r\nstop y"));
    mci::Interpreter second;
    second.send(QStringLiteral("close all"));

    EXPECT_EQ(trace.lines(),
              QStringList({
                  "earlier\t",
                  "open C:\\\\v\\\\a.avi type recording\t",
                  "status C:\\\\v\\\\a.avi length\t250",
                  "where\\tC:\\\\v\\\\a.avi\\tsource\t0\\t0\\n320\\r240",
                  "  play nothing  \terror: デバイスが開かれていません: nothing",
                  "\terror: コマンドがありません",
                  "stop x\\r\\nstop y\terror: デバイスが開かれていません: x␍␊stop y",
                  "close all\t",
              }));
}

TEST(Trace, UnwritablePlaceIsToldOnceAndNothingStops)
{
    TraceFile trace;
    const QStringList places = {trace.dir(), trace.dir() + QStringLiteral("/missing/trace.txt")};
    for (const QString &place : places) {
        SCOPED_TRACE(qPrintable(place));
        qputenv("KURIMO_TRACE", place.toUtf8());
        testing::internal::CaptureStderr();
        mci::Interpreter interpreter;
        RecordingDevices devices(interpreter);
        EXPECT_TRUE(interpreter.send(QStringLiteral("open /v/a.avi type recording")).ok);
        EXPECT_TRUE(interpreter.send(QStringLiteral("stop /v/a.avi")).ok);
        EXPECT_FALSE(interpreter.send(QStringLiteral("xyz")).ok);
        const QString told = QString::fromStdString(testing::internal::GetCapturedStderr());
        EXPECT_EQ(told.count(QStringLiteral("記録ファイルを開けません")), 1) << qPrintable(told);
        EXPECT_TRUE(told.contains(place)) << qPrintable(told);
    }
    EXPECT_FALSE(QFileInfo::exists(trace.dir() + QStringLiteral("/missing")));
}

TEST(Trace, NothingWithoutTheVariable)
{
    TraceFile trace;
    qunsetenv("KURIMO_TRACE");
    testing::internal::CaptureStderr();
    mci::Interpreter interpreter;
    interpreter.send(QStringLiteral("xyz"));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(QDir(trace.dir()).isEmpty());
}

} // namespace
