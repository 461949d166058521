#include "tests/mci/TraceFile.h"
#include "tests/support/AviCorpus.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

// The two programs as a person starts them: their options, kurimo-mci on scripts and on
// standard input, and kurimo with a file named on the command line, watched through the
// command trace.
namespace {

struct ProgramRun {
    int exitCode = -1; // also when it did not exit by itself
    QString out;
    QString err;
};

// Runs a program to its end with `input` on standard input, without a display: options are
// read before Qt starts, and the console runs offscreen by itself.
ProgramRun run(const char *program, const QStringList &args, const QByteArray &input = {},
               QProcessEnvironment environment = QProcessEnvironment::systemEnvironment())
{
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(qstrcmp(program, "kurimo") == 0 ? QStringLiteral(KURIMO_BINARY)
                                                  : QStringLiteral(KURIMO_MCI_BINARY),
                  args);
    EXPECT_TRUE(process.waitForStarted());
    process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(60'000));
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

TEST(Programs, AnswerTheirOptionsWithoutADisplay)
{
    const QString version = QStringLiteral(KURIMO_VERSION);
    const struct OptionCase {
        const char *program;
        QStringList args;
        int exitCode;
        const char *out; // the start of standard output
        const char *err; // the start of standard error
    } cases[] = {
        {"kurimo", {"--help"}, 0, "使い方: kurimo [ファイル]", ""},
        {"kurimo", {"-h"}, 0, "使い方: kurimo [ファイル]", ""},
        {"kurimo", {"--version"}, 0, "kurimo ", ""},
        {"kurimo", {"--bogus", "a.avi"}, 2, "", "kurimo: 知らないオプションです: --bogus"},
        {"kurimo", {"a.avi", "b.avi"}, 2, "", "kurimo: 開けるファイルは一つです"},
        {"kurimo-mci", {"--help"}, 0, "使い方: kurimo-mci [スクリプト]", ""},
        {"kurimo-mci", {"--version"}, 0, "kurimo-mci ", ""},
        {"kurimo-mci", {"-x"}, 2, "", "kurimo-mci: 知らないオプションです: -x"},
        {"kurimo-mci", {"a.txt", "b.txt"}, 2, "", "kurimo-mci: 読めるスクリプトは一つです"},
    };
    for (const OptionCase &c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.args.join(' ').toStdString());
        const auto [exitCode, out, err] = run(c.program, c.args);
        EXPECT_EQ(exitCode, c.exitCode);
        // An empty start asks for nothing (a null text starts nothing, to Qt).
        EXPECT_TRUE(!*c.out || out.startsWith(QString::fromUtf8(c.out))) << out.toStdString();
        EXPECT_TRUE(!*c.err || err.startsWith(QString::fromUtf8(c.err))) << err.toStdString();
        if (c.args.front() == QLatin1String("--version")) {
            EXPECT_EQ(out, QString::fromUtf8(c.program) + ' ' + version + '\n');
        }
        if (c.exitCode == 2) {
            EXPECT_TRUE(out.isEmpty() && err.contains(QStringLiteral("使い方:")));
        }
    }
}

// kurimo-mci answers one line per command, from a script or standard input: blank lines
// skipped, a CR dropped; exit 1 when any command failed, else 0, and 2 for a script that
// cannot be read.
class Console : public ::testing::Test {
protected:
    QString script(const QByteArray &content)
    {
        const QString path = dir.filePath(QStringLiteral("script%1.txt").arg(scripts++));
        EXPECT_TRUE(AviCorpus::writeAll(path, content));
        return path;
    }

    QTemporaryDir dir;
    int scripts = 0;
};

TEST_F(Console, OneLinePerCommandAndExitOneOnAnyFailure)
{
    ProgramRun r = run("kurimo-mci", {script("close all\n\nxyz\r\n  \t \nclose all\r\n"
                                             "play /v/nothing.avi from 0\nclose all wait")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, QStringLiteral("\nerror: コマンドが分かりません: xyz\n\n"
                                    "error: デバイスが開かれていません: /v/nothing.avi\n\n"));
    r = run("kurimo-mci", {script("close all\r\nclose all wait\n")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, QStringLiteral("\n\n"));
    r = run("kurimo-mci", {}, "close all\nstatus\n\nclose all");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, QStringLiteral("\nerror: デバイス名がありません: status\n\n"));
    for (const QString &path : {QStringLiteral("/nonexistent/kurimo/script.txt"),
                                QDir::tempPath()}) {
        r = run("kurimo-mci", {path});
        EXPECT_EQ(r.exitCode, 2) << qPrintable(path);
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_TRUE(r.err.contains(path)) << qPrintable(r.err);
    }
}

TEST_F(Console, DrivesTheAviDeviceByAPathWithBlanks)
{
    QString why;
    const QString clip = AviCorpus::file(AviCorpus::Kind::Dib24, &why);
    if (clip.isEmpty())
        GTEST_SKIP() << qPrintable(why);
    const QString path = dir.filePath(QStringLiteral("my 動画 from here.avi"));
    ASSERT_TRUE(QFile::copy(clip, path));
    const QByteArray p = path.toUtf8();
    const ProgramRun r = run("kurimo-mci",
        {script("open " + p + "\nstatus " + p + " length\nwhere " + p + " source\ncapability "
                + p + " can play\nseek " + p + " to 10\nstatus " + p + " position\nclose " + p
                + "\n")});
    EXPECT_EQ(r.exitCode, 0) << qPrintable(r.out);
    EXPECT_EQ(r.out, QStringLiteral("\n60\n0 0 160 120\ntrue\n\n10\n\n"));
}

// It traces what it sends, a line too long included.
TEST_F(Console, TracesWhatItSends)
{
    TraceFile trace;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KURIMO_TRACE"), trace.path());
    const QByteArray tooLong = "open " + QByteArray(70'000, 'w');
    const ProgramRun r = run("kurimo-mci", {script("close all\r\nplay\tx\n" + tooLong + "\n")},
                             {}, environment);
    EXPECT_EQ(r.exitCode, 1) << qPrintable(r.err);
    const QString refused = QStringLiteral("error: コマンドが長すぎます（65536文字まで）");
    EXPECT_TRUE(r.out.endsWith(refused + '\n'));
    EXPECT_EQ(trace.lines(), QStringList({"close all\t",
                                          "play\\tx\terror: デバイスが開かれていません: x",
                                          QString::fromLatin1(tooLong) + '\t' + refused}));
}

// kurimo FILE, offscreen on a 1024x768 screen, until its trace holds `lines` lines.
class StartedWithAFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const QString screen = dir.filePath(QStringLiteral("screen.json"));
        ASSERT_TRUE(AviCorpus::writeAll(screen, R"({"windowFrameMargins":false,)"
            R"("screens":[{"width":1024,"height":768,"logicalDpi":96}]})"));
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                           QStringLiteral("offscreen:configfile=") + screen);
        // No session bus, also when the tests run on a desktop: the media widget's reads of
        // the length would land among the traced commands.
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"),
                           QStringLiteral("unix:path=") + dir.filePath(QStringLiteral("no-bus")));
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir.path());
    }

    void TearDown() override
    {
        process.kill();
        process.waitForFinished();
    }

    void start(const QString &file)
    {
        process.start(QStringLiteral(KURIMO_BINARY), {file});
        ASSERT_TRUE(process.waitForStarted());
    }

    QStringList traceLines(int lines)
    {
        QStringList read;
        QDeadlineTimer deadline(30'000);
        while (!deadline.hasExpired() && process.state() == QProcess::Running) {
            read = trace.lines();
            if (read.size() >= lines)
                break;
            QThread::msleep(50);
        }
        return read;
    }

    TraceFile trace; // before the environment is read
    QTemporaryDir dir;
    QProcess process;
};

// The file button's handler, from the "open" to the speed, on the named file; a relative
// name is taken from the working folder, as the dialog would have given it whole.
TEST_F(StartedWithAFile, OpensItThroughTheFileButtonsHandler)
{
    QString why;
    const QString clip = AviCorpus::file(AviCorpus::Kind::Mjpeg, &why);
    if (clip.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const AviCorpus::Spec spec = AviCorpus::spec(AviCorpus::Kind::Mjpeg);
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("my videos")));
    const QString name = QStringLiteral("my videos/猫 1.avi");
    ASSERT_TRUE(QFile::copy(clip, dir.filePath(name)));
    const QString path = dir.filePath(name);

    start(name);
    const QString put = QStringLiteral("put %1 window at %2 %3 %4 %5\t")
                            .arg(path)
                            .arg((1024 - spec.width) / 2)
                            .arg((768 - spec.height - 20) / 2)
                            .arg(spec.width)
                            .arg(spec.height + 20);
    const QStringList expected = {
        QStringLiteral("open \"%1\" type AVIVideo\t").arg(path),
        QStringLiteral("status %1 length\t%2").arg(path).arg(spec.frameCount),
        QStringLiteral("capability %1 can play\ttrue").arg(path),
        QStringLiteral("where %1 source\t0 0 %2 %3").arg(path).arg(spec.width).arg(spec.height),
        QStringLiteral("set %1 audio all off\t").arg(path),
        put,
        QStringLiteral("play %1 to 0\t").arg(path),
        put,
        QStringLiteral("stop %1\t").arg(path),
        QStringLiteral("set %1 audio all on\t").arg(path),
        QStringLiteral("set %1 speed 1000\t").arg(path),
    };
    EXPECT_EQ(traceLines(int(expected.size())).join('\n').toStdString(),
              expected.join('\n').toStdString());
    EXPECT_EQ(process.state(), QProcess::Running) << process.readAllStandardError().constData();
}

// The open fails in the layer, whose box then holds the program; the box, the panel's own box
// and the panel without media are checked in front of the real layer in-process.
TEST_F(StartedWithAFile, ThatCannotBeOpenedStopsAtTheOpen)
{
    const QString path = dir.filePath(QStringLiteral("no such.avi"));
    start(path);
    const QStringList lines = traceLines(1);
    ASSERT_EQ(lines.size(), 1);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("open \"%1\" type AVIVideo\terror: ").arg(path)))
        << lines[0].toStdString();
    EXPECT_EQ(process.state(), QProcess::Running);
}

} // namespace
