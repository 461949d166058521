#include "tests/support/AviCorpus.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

// The two programs as a person starts them: their options, and kurimo with a file named on
// the command line, watched through the command trace.
namespace {

struct OptionCase {
    const char *program;
    QStringList args;
    int exitCode;
    const char *out; // the start of standard output
    const char *err; // the start of standard error
};

QString binary(const char *program)
{
    return QString::fromUtf8(program) == QLatin1String("kurimo")
               ? QStringLiteral(KURIMO_BINARY)
               : QStringLiteral(KURIMO_MCI_BINARY);
}

// Options are read before Qt starts, so none of them needs a display.
TEST(Programs, AnswerTheirOptionsWithoutADisplay)
{
    const QString version = QStringLiteral(KURIMO_VERSION);
    const std::vector<OptionCase> cases = {
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
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"})
        environment.remove(QString::fromLatin1(name));
    for (const OptionCase &c : cases) {
        SCOPED_TRACE(std::string(c.program) + " " + c.args.join(' ').toStdString());
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(binary(c.program), c.args);
        ASSERT_TRUE(process.waitForFinished(30'000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.exitCode);
        const QString out = QString::fromUtf8(process.readAllStandardOutput());
        const QString err = QString::fromUtf8(process.readAllStandardError());
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

// kurimo FILE, offscreen on a 1024x768 screen, until its trace holds `lines` lines.
class StartedWithAFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile screen(dir.filePath(QStringLiteral("screen.json")));
        ASSERT_TRUE(screen.open(QIODevice::WriteOnly));
        screen.write(R"({"windowFrameMargins":false,)"
                     R"("screens":[{"width":1024,"height":768,"logicalDpi":96}]})");
        screen.close();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"),
                           QStringLiteral("offscreen:configfile=") + screen.fileName());
        environment.insert(QStringLiteral("KURIMO_TRACE"), trace());
        process.setProcessEnvironment(environment);
        process.setWorkingDirectory(dir.path());
    }

    void TearDown() override
    {
        process.kill();
        process.waitForFinished();
    }

    QString trace() const { return dir.filePath(QStringLiteral("trace.txt")); }

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
            QFile file(trace());
            if (file.open(QIODevice::ReadOnly)) {
                read = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
                read.removeLast(); // after the last line end
                if (read.size() >= lines)
                    break;
            }
            QThread::msleep(50);
        }
        return read;
    }

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
