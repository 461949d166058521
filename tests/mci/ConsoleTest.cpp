#include "tests/mci/TraceFile.h"
#include "tests/support/AviCorpus.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct ConsoleRun {
    int exitCode = -1;
    QStringList lines; // standard output, line by line
    QString errors;    // standard error
};

// Runs the console binary, with a script argument or with input on standard input.
class Console : public ::testing::Test {
protected:
    QString script(const QByteArray &content)
    {
        const QString path = m_dir.filePath(QStringLiteral("script%1.txt").arg(m_scripts++));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    ConsoleRun run(const QStringList &args, const QByteArray &input = QByteArray())
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(KURIMO_MCI_BINARY), args);
        EXPECT_TRUE(process.waitForStarted());
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60'000));
        ConsoleRun result;
        result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        result.lines = out.split(QLatin1Char('\n'));
        EXPECT_TRUE(result.lines.back().isEmpty()) << "output must end with a line end";
        result.lines.removeLast();
        result.errors = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

private:
    QTemporaryDir m_dir;
    int m_scripts = 0;
};

// One line per command, from a script or standard input: blank lines skipped, a CR dropped;
// exit 1 when any command failed, else 0.
TEST_F(Console, OneLinePerCommandAndExitOneOnAnyFailure)
{
    ConsoleRun r = run({script("close all\n\nxyz\r\n  \t \nclose all\r\n"
                               "play /v/nothing.avi from 0\nclose all wait")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.lines, QStringList({"", "error: コマンドが分かりません: xyz", "",
                                    "error: デバイスが開かれていません: /v/nothing.avi", ""}));
    r = run({script("close all\r\nclose all wait\n")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.lines, QStringList({"", ""}));
    r = run({}, "close all\nstatus\n\nclose all");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.lines, QStringList({"", "error: デバイス名がありません: status", ""}));
}

TEST_F(Console, ScriptThatCannotBeReadIsExitTwo)
{
    for (const QString &path : {QStringLiteral("/nonexistent/kurimo/script.txt"),
                                QDir::tempPath()}) {
        const ConsoleRun r = run({path});
        EXPECT_EQ(r.exitCode, 2) << qPrintable(path);
        EXPECT_TRUE(r.lines.isEmpty());
        EXPECT_TRUE(r.errors.contains(path)) << qPrintable(r.errors);
    }
}

TEST_F(Console, DrivesTheAviDeviceByAPathWithBlanks)
{
    QString why;
    const QString clip = AviCorpus::file(AviCorpus::Kind::Dib24, &why);
    if (clip.isEmpty())
        GTEST_SKIP() << qPrintable(why);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("my 動画 from here.avi"));
    ASSERT_TRUE(QFile::copy(clip, path));
    const QByteArray p = path.toUtf8();
    const ConsoleRun r = run({script("open " + p + "\nstatus " + p + " length\nwhere " + p
                                     + " source\ncapability " + p + " can play\nseek " + p
                                     + " to 10\nstatus " + p + " position\nclose " + p + "\n")});
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.lines.join(QLatin1Char('|')));
    EXPECT_EQ(r.lines, QStringList({"", "60", "0 0 160 120", "true", "", "10", ""}));
}

// Without a display it runs offscreen; it traces what it sends, a line too long included.
TEST_F(Console, RunsWithoutADisplayAndTracesWhatItSends)
{
    TraceFile trace;
    environment.insert(QStringLiteral("KURIMO_TRACE"), trace.path());
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    const QByteArray tooLong = "open " + QByteArray(70'000, 'w');
    const ConsoleRun r = run({script("close all\r\nplay\tx\n" + tooLong + "\n")});
    EXPECT_EQ(r.exitCode, 1) << qPrintable(r.errors);
    const QString refused = QStringLiteral("error: コマンドが長すぎます（65536文字まで）");
    EXPECT_EQ(r.lines.value(2), refused);
    EXPECT_EQ(trace.lines(), QStringList({"close all\t",
                                          "play\\tx\terror: デバイスが開かれていません: x",
                                          QString::fromLatin1(tooLong) + '\t' + refused}));
}

} // namespace
