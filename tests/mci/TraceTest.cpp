#include "platform/mci/Interpreter.h"
#include "tests/mci/RecordingDevice.h"
#include "tests/mci/TraceFile.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

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
