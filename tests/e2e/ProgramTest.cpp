#include "tests/mci/TraceFile.h"
#include "tests/support/ClipCorpus.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <sys/stat.h>

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
// How a run is set up beyond its input: its own environment, standard output to a file, a
// change in the child before it starts (limits), how long it may take.
struct RunSetup {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QString outputFile;
    std::function<void()> inChild;
    int timeoutMs = 60'000;
};

ProgramRun run(const char *program, const QStringList &args, const QByteArray &input = {},
               RunSetup setup = {})
{
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        setup.environment.remove(QString::fromLatin1(name));
    QProcess process;
    process.setProcessEnvironment(setup.environment);
    if (!setup.outputFile.isEmpty())
        process.setStandardOutputFile(setup.outputFile);
    if (setup.inChild)
        process.setChildProcessModifier(setup.inChild);
    process.start(qstrcmp(program, "kurimo") == 0 ? QStringLiteral(KURIMO_BINARY)
                                                  : QStringLiteral(KURIMO_MCI_BINARY),
                  args);
    EXPECT_TRUE(process.waitForStarted());
    process.write(input);
    process.closeWriteChannel();
    const bool finished = process.waitForFinished(setup.timeoutMs);
    EXPECT_TRUE(finished) << "still running after " << setup.timeoutMs << " ms";
    if (!finished) {
        process.kill();
        process.waitForFinished();
    }
    return {finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QProcessEnvironment withTrace(const QString &path)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KURIMO_TRACE"), path);
    return environment;
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
        EXPECT_TRUE(ClipCorpus::writeAll(path, content));
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

TEST_F(Console, DrivesTheVideoDeviceByAPathWithBlanks)
{
    QString why;
    const QString clip = ClipCorpus::file(ClipCorpus::Kind::Dib24, &why);
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
    const QByteArray tooLong = "open " + QByteArray(70'000, 'w');
    const ProgramRun r = run("kurimo-mci", {script("close all\r\nplay\tx\n" + tooLong + "\n")},
                             {}, {withTrace(trace.path())});
    EXPECT_EQ(r.exitCode, 1) << qPrintable(r.err);
    const QString refused = QStringLiteral("error: コマンドが長すぎます（65536文字まで）");
    EXPECT_TRUE(r.out.endsWith(refused + '\n'));
    // Of a line too long only what was held when it passed the limit is traced.
    EXPECT_EQ(trace.lines(), QStringList({"close all\t",
                                          "play\\tx\terror: デバイスが開かれていません: x",
                                          QString::fromLatin1(tooLong.left(65'538)) + '\t'
                                              + refused}));
}

void put32(QByteArray &data, qsizetype at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = char((v >> (8 * i)) & 0xff);
}

// What the machine around the console can do to it: a trace nobody reads or that cannot be
// written, replies that cannot be written, a line that never ends, a recording that was
// never finished in a file preallocated for it, a header's absurd frame rate. Each answers
// at once, says what happened, and leaves nothing hanging.
TEST_F(Console, FaultsOfTheEnvironmentAreToldAndNothingHangs)
{
    QString why;
    const QString clip = ClipCorpus::file(ClipCorpus::Kind::Dib24, &why); // 60 frames at 25
    if (clip.isEmpty())
        GTEST_SKIP() << qPrintable(why);
    const QByteArray whole = ClipCorpus::readAll(clip);
    const qsizetype idx1 = whole.lastIndexOf("idx1");
    const qsizetype movi = whole.indexOf("movi");
    const qsizetype avih = whole.indexOf("avih");
    const qsizetype strh = whole.indexOf("strh");
    ASSERT_TRUE(idx1 > movi && movi > 0 && avih > 0 && strh > 0);

    // No idx1, no frame counts, and zeros up to 64 MB: the movie list's size is what was
    // written when the recorder stopped.
    const QString preallocated = dir.filePath(QStringLiteral("preallocated.avi"));
    {
        QByteArray data = whole.left(idx1);
        put32(data, 4, (64u << 20) - 8);
        put32(data, movi - 4, uint32_t(idx1 - movi));
        put32(data, avih + 8 + 16, 0); // dwTotalFrames
        put32(data, strh + 8 + 32, 0); // dwLength
        ASSERT_TRUE(ClipCorpus::writeAll(preallocated, data));
        QFile file(preallocated);
        ASSERT_TRUE(file.resize(64 << 20));
    }
    // One frame in a million seconds.
    const QString absurd = dir.filePath(QStringLiteral("absurd-rate.avi"));
    {
        QByteArray data = whole;
        put32(data, strh + 8 + 20, 1'000'000); // dwScale
        put32(data, strh + 8 + 24, 1);         // dwRate
        ASSERT_TRUE(ClipCorpus::writeAll(absurd, data));
    }
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    // A trace that has reached the largest file this child may write.
    const QString fullTrace = dir.filePath(QStringLiteral("full-trace.txt"));
    ASSERT_TRUE(ClipCorpus::writeAll(fullTrace, QByteArray(4096, 't')));
    const auto fileSizeLimit = [] {
        std::signal(SIGXFSZ, SIG_IGN); // a failed write, not a killed program
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    };

    const QByteArray refused = "error: コマンドが長すぎます（65536文字まで）\n";
    const auto opened = [](const QString &path, const char *commands) {
        return "open " + path.toUtf8() + " alias v\n" + commands;
    };
    const struct EnvironmentCase {
        const char *name;
        QByteArray input;
        RunSetup setup;
        QByteArray out;
        const char *told; // on standard error, once; empty: nothing asked
        int exitCode;
        bool endlessLine = false; // the refusal comes while the line is still arriving
    } cases[] = {
        {"a trace that is a named pipe nobody reads", "close all\n", {withTrace(fifo)}, "\n",
            "記録ファイルを開けません: %1（通常のファイルではありません）", 0},
        {"a trace on a device", "close all\n", {withTrace("/dev/full")}, "\n",
            "記録ファイルを開けません: /dev/full（通常のファイルではありません）", 0},
        {"a trace on a full disk", "close all\nclose all\n",
            {withTrace(fullTrace), {}, fileSizeLimit}, "\n\n", "記録ファイルに書き込めません", 0},
        {"replies to a full disk", "close all\nxyz\nclose all\n", {{}, "/dev/full"}, "",
            "kurimo-mci: 応答を書き込めません", 1},
        {"a line that never ends", QByteArray(2 << 20, 'x'), {}, refused + "\n", "", 1, true},
        {"an unfinished recording, preallocated",
            opened(preallocated, "status v length\nclose v\n"), {}, "\n60\n\n", "", 0},
        {"a frame rate no video has",
            opened(absurd, "status v frame rate\nplay v from 0 to 1 wait\nclose v\n"), {},
            "\n25000\n\n\n", "", 0},
    };
    for (const EnvironmentCase &c : cases) {
        SCOPED_TRACE(c.name);
        RunSetup setup = c.setup;
        setup.timeoutMs = 10'000;
        QElapsedTimer took;
        took.start();
        ProgramRun r;
        if (c.endlessLine) {
            // The input stays open: a console that held the line whole would answer only at
            // its end.
            QProcess process;
            process.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
            process.start(QStringLiteral(KURIMO_MCI_BINARY), {});
            ASSERT_TRUE(process.waitForStarted());
            process.write(c.input);
            QByteArray out;
            QDeadlineTimer deadline(setup.timeoutMs);
            while (!out.contains('\n') && !deadline.hasExpired()) {
                process.waitForReadyRead(100);
                out += process.readAllStandardOutput();
            }
            EXPECT_EQ(out, refused) << "before the line ended";
            process.write("\nclose all\n");
            process.closeWriteChannel();
            EXPECT_TRUE(process.waitForFinished(setup.timeoutMs));
            r = {process.exitCode(), QString::fromUtf8(out + process.readAllStandardOutput()),
                QString::fromUtf8(process.readAllStandardError())};
        } else {
            r = run("kurimo-mci", {}, c.input, setup);
        }
        EXPECT_EQ(r.exitCode, c.exitCode) << qPrintable(r.err);
        EXPECT_EQ(r.out, QString::fromUtf8(c.out));
        if (*c.told) {
            QString told = QString::fromUtf8(c.told);
            if (told.contains(QStringLiteral("%1")))
                told = told.arg(fifo);
            EXPECT_EQ(r.err.count(told), 1) << qPrintable(r.err);
        }
        // A few seconds for the whole table; the preallocated file took a minute.
        EXPECT_LT(took.elapsed(), 5000);
    }
}

// Under an address-space limit a reverse play through 1080p pictures runs out of memory on
// the way: in the decoder, in the decode-ahead thread or here. Every command still answers
// and nothing aborts. The limit is set once the file is open, a little above what the child
// holds then, so that what fails is what the play asks for.
TEST_F(Console, AReversePlayOutOfMemoryFailsAndTheConsoleGoesOn)
{
    QString why;
    const QString clip = ClipCorpus::generate(QStringLiteral("reverse-1080p"),
        {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25:duration=3", "-c:v", "libx264",
            "-preset", "ultrafast", "-g", "75", "-pix_fmt", "yuv420p", "-f", "mp4"},
        &why);
    if (clip.isEmpty())
        GTEST_SKIP() << qPrintable(why);
    for (const qint64 moreMb : {0, 8, 32, 128}) {
        SCOPED_TRACE(moreMb);
        QProcess process;
        process.start(QStringLiteral(KURIMO_MCI_BINARY), {});
        ASSERT_TRUE(process.waitForStarted());
        process.write("open " + clip.toUtf8() + " alias v\n");
        ASSERT_TRUE(process.waitForReadyRead(30'000));
        QByteArray out = process.readAllStandardOutput();
        // The limit falls once the child is idle: the work at rest after the open decodes a
        // few pictures, and a picture in flight in libavcodec's own threads when memory goes
        // ends in libavcodec's assertion, which no caller can catch.
        const auto cpuTicks = [&] {
            QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
            const QList<QByteArray> fields =
                stat.open(QIODevice::ReadOnly) ? stat.readAll().split(' ') : QList<QByteArray>();
            return fields.size() > 14 ? fields[13].toLongLong() + fields[14].toLongLong() : -1;
        };
        for (qint64 before = -2, now = cpuTicks(), tries = 0; now != before && tries < 25;
             now = cpuTicks(), ++tries) {
            before = now;
            QThread::msleep(200);
        }
        QFile status(QStringLiteral("/proc/%1/status").arg(process.processId()));
        ASSERT_TRUE(status.open(QIODevice::ReadOnly));
        qint64 heldKb = 0;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmSize:"))
                heldKb = line.mid(7).trimmed().split(' ').front().toLongLong();
        }
        const rlimit limit{rlim_t(heldKb + moreMb * 1024) * 1024, RLIM_INFINITY};
        ASSERT_EQ(::prlimit(pid_t(process.processId()), RLIMIT_AS, &limit, nullptr), 0);
        process.write("play v from 74 to 0 reverse wait\nstatus v mode\nseek v to 10\nclose v\n");
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(30'000));
        out += process.readAllStandardOutput();
        const QByteArray err = process.readAllStandardError();
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << err.right(300).constData();
        const QList<QByteArray> lines = out.split('\n');
        ASSERT_EQ(lines.size(), 6) << out.constData();
        const QByteArray play = lines[1];
        // Where the decoder's own memory runs out, its picture is one it could not read.
        EXPECT_TRUE(play.isEmpty() || play == "error: メモリが足りません" ||
            play == "error: フレームを読み込めないため再生を止めました")
            << play.constData();
        EXPECT_EQ(lines[2], "stopped");
        EXPECT_EQ(lines[4], "");
    }
}

// kurimo FILE, offscreen on a 1024x768 screen, until its trace holds `lines` lines.
class StartedWithAFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        const QString screen = dir.filePath(QStringLiteral("screen.json"));
        ASSERT_TRUE(ClipCorpus::writeAll(screen, R"({"windowFrameMargins":false,)"
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
    const QString clip = ClipCorpus::file(ClipCorpus::Kind::Mjpeg, &why);
    if (clip.isEmpty())
        GTEST_SKIP() << why.toStdString();
    const ClipCorpus::Spec spec = ClipCorpus::spec(ClipCorpus::Kind::Mjpeg);
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
        // The slider and the time label, in seconds, read where the new video stands.
        QStringLiteral("status %1 position\t0").arg(path),
        QStringLiteral("set %1 time format ms\t").arg(path),
        QStringLiteral("status %1 position\t0").arg(path),
        QStringLiteral("set %1 time format frames\t").arg(path),
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
