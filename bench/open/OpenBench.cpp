// open_bench FILE...: for each file, Kurimo's open (time until the picture index is whole,
// and until the first picture is decoded) and mpv's (loadfile until its first picture is
// out), taken in turns, three rounds, the median reported. The files stay where they are:
// make long ones outside the tree.

#include "platform/video/FrameSource.h"
#include "platform/video/device/Opening.h"
#include "platform/video/decode/MediaFile.h"
#include "bench/seek/MpvClient.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
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

struct Ours {
    double indexMs = -1;
    double firstPictureMs = -1;
    int pictures = 0;
};

Ours openOurs(const QString &path)
{
    std::atomic<Clock::rep> indexed{0};
    video::MediaFile::indexing().afterIndex = [&] {
        indexed = Clock::now().time_since_epoch().count();
    };
    Ours result;
    const Clock::time_point start = Clock::now();
    QString error;
    auto source = video::openFrameSource(path, &error);
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

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList files = app.arguments().mid(1);
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: open_bench FILE...\n");
        return 2;
    }
    MpvClient mpv;
    const bool withMpv =
        mpv.start(QDir::temp().filePath(QStringLiteral("open-bench-%1.sock").arg(app.applicationPid())));
    if (!withMpv)
        std::fprintf(stderr, "mpv not found: Kurimo's figures only\n");
    std::printf("%-40s %9s %12s %14s %10s\n", "file", "pictures", "index ms", "1st picture ms",
        "mpv ms");
    for (const QString &path : files) {
        std::vector<double> index, first, theirs;
        int pictures = 0;
        for (int round = 0; round < 3; ++round) {
            const Ours ours = openOurs(path);
            index.push_back(ours.indexMs);
            first.push_back(ours.firstPictureMs);
            pictures = ours.pictures;
            if (withMpv)
                theirs.push_back(openMpv(mpv, path));
        }
        std::printf("%-40s %9d %12.0f %14.0f %10.0f\n",
            qPrintable(QFileInfo(path).fileName().left(40)), pictures, median(index),
            median(first), withMpv ? median(theirs) : -1.0);
        std::fflush(stdout);
    }
    return 0;
}
