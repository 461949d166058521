// open_bench [--cold] [--rounds N] [--mci KURIMO-MCI] FILE...: for each file, side by side in
// turns,
//   cat        `cat FILE > /dev/null`: the time to read the file, the floor of a scan;
//   1st open   Kurimo's open with an empty index cache: until the index is whole, and until
//              the first picture is decoded (what an `open` waits for);
//   2nd open   the same again with the index the first one kept;
//   mpv        loadfile until mpv's first picture is out;
//   with --mci, the console's `open` to its reply, once with an empty index cache (c1) and
//              once again (c2), in one console process as mpv's loadfile is in one mpv.
// The median of the rounds (3 unless told). --cold drops the file from the page cache before
// each (posix_fadvise, this file only). The index cache is a temporary folder of the bench's
// own. The files stay where they are: make long ones outside the tree.

#include "platform/video/FrameSource.h"
#include "platform/video/device/Opening.h"
#include "bench/seek/MpvClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

double msSince(Clock::time_point start, Clock::time_point end)
{
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> v)
{
    if (v.empty())
        return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void dropFromPageCache(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
}

double catMs(const QString &path)
{
    QProcess cat;
    cat.setStandardOutputFile(QProcess::nullDevice());
    const Clock::time_point start = Clock::now();
    cat.start(QStringLiteral("cat"), {path});
    if (!cat.waitForFinished(-1) || cat.exitCode() != 0)
        return -1;
    return msSince(start, Clock::now());
}

struct Ours {
    double indexMs = -1;
    double firstPictureMs = -1;
    int pictures = 0;
};

Ours openOurs(const QString &path, const QString &cache)
{
    std::atomic<Clock::rep> indexed{0};
    video::DecodeOptions options;
    options.indexCache = cache;
    options.afterIndex = [&] { indexed = Clock::now().time_since_epoch().count(); };
    Ours result;
    const Clock::time_point start = Clock::now();
    QString error;
    auto source = video::openFrameSource(path, &error, options);
    if (!source || source->frameAt(0).isNull()) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(path), qPrintable(error));
        return result;
    }
    result.firstPictureMs = msSince(start, Clock::now());
    result.indexMs = msSince(start, Clock::time_point(Clock::duration(indexed.load())));
    result.pictures = source->info().frameCount;
    return result;
}

double openMpv(MpvClient &mpv, const QString &path)
{
    const Clock::time_point start = Clock::now();
    mpv.command({"loadfile", path});
    if (!mpv.waitEvent("playback-restart", 600000ms))
        return -1;
    const double ms = msSince(start, Clock::now());
    mpv.command({"stop"});
    mpv.waitEvent("idle", 10000ms);
    return ms;
}

// A kurimo-mci of its own, with an index cache of its own, as a script drives it.
class Console {
public:
    Console(const QString &program, const QString &cacheHome)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CACHE_HOME"), cacheHome);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        m_process.setProcessEnvironment(env);
        m_process.setStandardErrorFile(QProcess::nullDevice());
        m_process.start(program, {});
        m_process.waitForStarted();
    }
    ~Console()
    {
        m_process.closeWriteChannel();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }

    // From the command to its reply, or -1 where the reply is an error or none.
    double openMs(const QString &path)
    {
        const Clock::time_point start = Clock::now();
        const QString reply = command(QStringLiteral("open \"%1\" type avivideo alias v").arg(path));
        const double ms = msSince(start, Clock::now());
        command(QStringLiteral("close v"));
        return reply.isEmpty() ? ms : -1;
    }

private:
    QString command(const QString &text)
    {
        m_process.write((text + QLatin1Char('\n')).toUtf8());
        while (!m_process.canReadLine() && m_process.state() == QProcess::Running)
            m_process.waitForReadyRead(600000);
        return QString::fromUtf8(m_process.readLine()).trimmed();
    }

    QProcess m_process;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList files = app.arguments().mid(1);
    const bool cold = files.removeAll(QStringLiteral("--cold")) > 0;
    int rounds = 3;
    const qsizetype at = files.indexOf(QStringLiteral("--rounds"));
    if (at >= 0 && at + 1 < files.size()) {
        rounds = std::max(1, files[at + 1].toInt());
        files.remove(at, 2);
    }
    QString mci;
    const qsizetype mciAt = files.indexOf(QStringLiteral("--mci"));
    if (mciAt >= 0 && mciAt + 1 < files.size()) {
        mci = files[mciAt + 1];
        files.remove(mciAt, 2);
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: open_bench [--cold] [--rounds N] [--mci KURIMO-MCI] FILE...\n");
        return 2;
    }
    QTemporaryDir cacheHome;
    const QString cache = cacheHome.filePath(QStringLiteral("kurimo"));
    MpvClient mpv;
    const bool withMpv = mpv.start(
        QDir::temp().filePath(QStringLiteral("open-bench-%1.sock").arg(app.applicationPid())));
    if (!withMpv)
        std::fprintf(stderr, "mpv not found: Kurimo's figures only\n");
    std::printf("%s page cache, median of %d rounds, ms\n", cold ? "cold" : "warm", rounds);
    QTemporaryDir consoleCache;
    std::optional<Console> console;
    if (!mci.isEmpty())
        console.emplace(mci, consoleCache.path());
    const QString consoleIndex = consoleCache.filePath(QStringLiteral("kurimo"));
    std::printf("%-24s %8s %7s %7s %8s %6s %8s %6s %6s %6s%s\n", "file", "pictures", "cat",
        "1:index", "1:pict", "1/cat", "2:pict", "mpv", "2/mpv", "1:i/cat",
        console ? "     c1  c1/cat     c2  c2/mpv" : "");
    for (const QString &path : files) {
        std::vector<double> cats, index, first, second, theirs, consoleFirst, consoleSecond;
        int pictures = 0;
        auto settle = [&] {
            if (cold)
                dropFromPageCache(path);
        };
        for (int round = 0; round < rounds; ++round) {
            settle();
            cats.push_back(catMs(path));
            QDir(cache).removeRecursively();
            settle();
            const Ours fresh = openOurs(path, cache);
            index.push_back(fresh.indexMs);
            first.push_back(fresh.firstPictureMs);
            pictures = fresh.pictures;
            settle();
            second.push_back(openOurs(path, cache).firstPictureMs);
            if (withMpv) {
                settle();
                theirs.push_back(openMpv(mpv, path));
            }
            if (console) {
                QDir(consoleIndex).removeRecursively();
                settle();
                consoleFirst.push_back(console->openMs(path));
                settle();
                consoleSecond.push_back(console->openMs(path));
            }
        }
        const double c = median(cats), i = median(index), f = median(first),
                     s = median(second), m = withMpv ? median(theirs) : -1.0;
        std::printf("%-24s %8d %7.0f %7.0f %8.0f %6.2f %8.0f %6.0f %6.2f %6.2f",
            qPrintable(QFileInfo(path).fileName().left(24)), pictures, c, i, f, f / c, s, m,
            m > 0 ? s / m : -1.0, i / c);
        if (console) {
            const double c1 = median(consoleFirst), c2 = median(consoleSecond);
            std::printf(" %7.0f %6.2f %7.0f %6.2f", c1, c1 / c, c2, m > 0 ? c2 / m : -1.0);
        }
        std::printf("\n");
        std::fflush(stdout);
    }
    return 0;
}
