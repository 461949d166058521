#include "media/InterpreterChannel.h"
#include "media/InterpreterControl.h"
#include "platform/mci/Interpreter.h"
#include "tests/mci/RecordingDevice.h"
#include "tests/mci/TraceFile.h"

#include <gtest/gtest.h>

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

TEST_F(OnInterpreter, ChannelExecuteGoesToTheErrorBoxOnFailure)
{
    EXPECT_TRUE(channel.mciExecute(QStringLiteral("open /v/a b.avi type recording")));
    EXPECT_TRUE(channel.mciExecute(QStringLiteral("play /v/a b.avi from 0 to 10")));
    EXPECT_TRUE(reported.isEmpty());
    EXPECT_FALSE(channel.mciExecute(QStringLiteral("play /v/c.avi")));
    EXPECT_EQ(reported, QStringList({"play /v/c.avi|デバイスが開かれていません: /v/c.avi"}));
    EXPECT_EQ(devices[QStringLiteral("/v/a b.avi")]->lastPlay->to, 10);
}

TEST_F(OnInterpreter, ChannelSendStringCutsTheReplyAndShowsNothing)
{
    ASSERT_TRUE(channel.mciExecute(QStringLiteral("open /v/a.avi type recording")));
    QString buffer;
    EXPECT_EQ(channel.mciSendString(QStringLiteral("where /v/a.avi source"), buffer, 1024), 0);
    EXPECT_EQ(buffer, QStringLiteral("0 0 320 240"));
    EXPECT_EQ(channel.mciSendString(QStringLiteral("where /v/a.avi source"), buffer, 6), 0);
    EXPECT_EQ(buffer, QStringLiteral("0 0 3"));
    EXPECT_EQ(channel.mciSendString(QStringLiteral("where /v/a.avi source"), buffer, 0), 0);
    EXPECT_EQ(buffer, QString());

    buffer = QStringLiteral("stale");
    EXPECT_NE(channel.mciSendString(QStringLiteral("where /v/b.avi source"), buffer, 1024), 0);
    EXPECT_EQ(buffer, QString());
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(OnInterpreter, ControlSendsOpenReadsSeekAndClose)
{
    const QString file = QStringLiteral("/v/my videos/猫.avi");
    control.setCommand(QStringLiteral("Close")); // the panel closes before its first open
    openOnControl(file);
    EXPECT_TRUE(control.canPlay());
    EXPECT_EQ(control.length(), 250);
    EXPECT_EQ(control.position(), 17);
    control.setTo(42);
    control.setCommand(QStringLiteral("seek"));
    EXPECT_EQ(devices[file]->lastSeek->position, 42);
    control.setCommand(QStringLiteral("Close"));
    control.setCommand(QStringLiteral("Close"));

    EXPECT_EQ(trace.lines(),
              QStringList({
                  "open \"/v/my videos/猫.avi\" type Recording\t",
                  "capability /v/my videos/猫.avi can play\ttrue",
                  "status /v/my videos/猫.avi length\t250",
                  "status /v/my videos/猫.avi position\t17",
                  "seek /v/my videos/猫.avi to 42\t",
                  "close /v/my videos/猫.avi\t",
              }));
    EXPECT_TRUE(interpreter.openDevices().isEmpty());
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(OnInterpreter, ControlWithNothingOpenReadsNothingAndSendsNothing)
{
    EXPECT_FALSE(control.canPlay());
    EXPECT_EQ(control.length(), 0);
    EXPECT_EQ(control.position(), 0);
    control.setCommand(QStringLiteral("Close"));
    EXPECT_TRUE(trace.lines().isEmpty());
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(OnInterpreter, ControlOpenFailureGoesToTheErrorBox)
{
    openOnControl(QStringLiteral("/v/broken.avi"));
    EXPECT_EQ(reported, QStringList({"open \"/v/broken.avi\" type Recording|"
                                     "ファイルを開けません: /v/broken.avi（AVI ではありません）"}));
    EXPECT_FALSE(control.canPlay());
    EXPECT_EQ(control.length(), 0);
    control.setCommand(QStringLiteral("Close"));
    EXPECT_EQ(trace.lines().size(), 1);
}

TEST_F(OnInterpreter, ControlReadsFallBackToZeroOnBadReplies)
{
    openOnControl(QStringLiteral("/v/a.avi"));
    RecordingDevice *device = devices[QStringLiteral("/v/a.avi")];
    device->statusReplies[mci::StatusItem::Position] = QStringLiteral("not a number");
    EXPECT_EQ(control.position(), 0);
    device->failure = mci::Result::failure(QStringLiteral("壊れています"));
    EXPECT_EQ(control.length(), 0);
    device->playable = false;
    EXPECT_FALSE(control.canPlay());
    // Reads and seeks are quiet: a wind over refused seeks must not raise a box at each step.
    control.setTo(5);
    control.setCommand(QStringLiteral("seek"));
    EXPECT_TRUE(reported.isEmpty());
}

TEST_F(OnInterpreter, ControlUsesTheFileOfTheLastOpen)
{
    openOnControl(QStringLiteral("/v/a.avi"));
    // The panel may write a new name before it closes the old file.
    control.setFileName(QStringLiteral("/v/b.avi"));
    control.setCommand(QStringLiteral("Close"));
    EXPECT_TRUE(interpreter.openDevices().isEmpty());
    openOnControl(QStringLiteral("/v/say \"hi\".avi"));
    EXPECT_EQ(interpreter.openDevices(), QStringList({"/v/say \"hi\".avi"}));
    EXPECT_EQ(control.length(), 250);
}

} // namespace
