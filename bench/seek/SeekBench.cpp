// Seek bench: exact seeks, steps and wind steps on generated AVI files of several codecs and
// sizes, ours against mpv's (through its JSON IPC), with a check of the frame each one shows.
//
//   seek_bench [--quick] [--trials N] [--repeat N] [--no-mpv] [--no-pool] [--no-prefault]
//              [--only TEXT] [--containers] [--frames N] [--rest] [--no-skip]
//   seek_bench --floor [--mci PATH] [--mpv] [--trials N] [--only TEXT] [--targets]
//
// The trials' targets come in random order, as people jump around (a sorted walk would
// profit from the decoder carrying on from the target before).
// --mci PATH drives the console program (kurimo-mci) instead of the frame source: each
// operation is a `seek` command timed until its reply, the position checked by `status`.
// --frames makes files of N frames instead of 300 (keyframes still 250 apart). --rest lets
// each player rest before every operation: ours with decoding ahead at rest on, until that
// work is done; mpv 300 ms, paused. --no-skip decodes every picture on the way to a target
// (unreferenced ones far before it are left out by default), for before/after in one binary.
//
// --floor runs the 1080p files of the outside measurements instead (750 frames with MP3
// sound, keyframes 250 apart: H.264 in AVI and the same stream copied into MP4 and MKV,
// MPEG-4 tagged XVID, MJPEG), 12 targets after a 300 ms rest each, and puts each exact seek
// beside the decoding floor of its target (DecodingFloor: libavcodec alone, from the
// keyframe, unreferenced pictures before the target skipped, the same frame threads); mpv
// only with --mpv. --targets lists every target's times as well.
//
// --containers runs today's files instead: H.264 at 1920x1080 in MP4 and MKV, HEVC at
// 1280x720 in MP4, keyframes 250 apart as in the AVIs.
// --quick leaves out 1280x720; --only keeps the files whose label ("h264 1920x1080")
// contains TEXT. --repeat runs ours N times over the same trials, each time on a freshly
// opened source (so with a cold cache), for steadier medians and for profiling. --no-pool
// gives our decoders libavcodec's own picture memory instead of the recycling pool, and
// --no-prefault the pool without its prefaulting thread, for before/after runs in one set
// of conditions.
//
// Prints a Markdown table (times in milliseconds: medians and worst cases; the ratio of the
// means too, since a median of a dozen random targets is whichever one lands in the middle)
// for docs/performance.md.

#include "bench/seek/DecodingFloor.h"
#include "bench/seek/MpvClient.h"
#include "platform/video/FrameSource.h"
#include "platform/video/device/Opening.h"
#include "platform/video/FFmpegHandles.h"
#include "tests/decode/ReferenceDecode.h"
#include "platform/video/decode/DecodingFrameSource.h"
#include "tests/support/ClipCorpus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <random>
#include <sys/resource.h>
#include <ctime>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

struct BenchFile {
    QString name;
    int width;
    int height;
    QStringList codecArgs;
    // The whole recipe when the file is not the bench's own testsrc2 (the floor's set).
    QStringList recipe = {};
    int copyOf = -1; // the file whose video stream is copied, with `recipe` after its path
};

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

uint64_t hashImage(const QImage &image)
{
    uint64_t h = 1469598103934665603ull;
    for (int y = 0; y < image.height(); ++y) {
        const uchar *line = image.constScanLine(y);
        for (int x = 0; x < image.width() * 4; ++x) {
            h ^= line[x];
            h *= 1099511628211ull;
        }
    }
    return h;
}

// The hash of the frame a plain sequential decode shows at each position.
std::vector<uint64_t> referenceHashes(const QString &path)
{
    // Hashed through our own converter: the bench compares with what frameAt hands out.
    video::FrameConverter converter;
    std::map<int, uint64_t> bySlot;
    const int slotCount = walkReferenceDecode(
        path, [&](int slot, const AVFrame *picture, int width, int height) {
            bySlot[slot] = hashImage(converter.convert(picture, width, height));
        });
    return byPosition(bySlot, slotCount);
}

long long peakRssKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toLongLong();
    }
    return -1;
}

void resetPeakRss()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

struct Series {
    std::vector<double> ms;
    int wrong = 0;
    void add(double t, bool right)
    {
        ms.push_back(t);
        wrong += right ? 0 : 1;
    }
    double median() const
    {
        if (ms.empty())
            return 0;
        std::vector<double> s = ms;
        std::sort(s.begin(), s.end());
        return s[s.size() / 2];
    }
    double worst() const { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
    double mean() const
    {
        double sum = 0;
        for (double t : ms)
            sum += t;
        return ms.empty() ? 0 : sum / double(ms.size());
    }
};

const char *kOps[] = {"open", "seek", "step fwd", "step back 1st", "step back", "wind +10",
    "wind -10"};

struct Result {
    std::map<QString, Series> ours;
    std::map<QString, Series> mpv;
    Series floor; // per target, in the order of the trials
    long long peakKb = 0;
    long long capMb = 0;
    // Ours, over all repeats: what the load of the machine does not change.
    qint64 framesDecoded = 0;
    double cpuSeconds = 0;
    int frames = 0;
};

// A trial: an exact seek to t, a step forward, two steps back, a wind step forward (+10)
// and one back (-10): positions t, t+1, t, t-1, t+9, t-1.
struct Move {
    const char *op;
    int delta; // from the previous position
};
const Move kMoves[] = {{"step fwd", 1}, {"step back 1st", -1}, {"step back", -1},
    {"wind +10", 10}, {"wind -10", -10}};

bool atRest = false;
video::DecodeOptions decodeOptions;
std::vector<qint64> decodedPerSeek; // ours called directly: pictures each seek decoded
std::vector<double> cpuPerSeek;     // ours: CPU milliseconds of each seek, all threads

// CPU time of every thread of a process so far, in milliseconds (the scheduler's count, to
// the nanosecond, where the load of the machine moves wall time by a factor of two or three).
double cpuMsOf(qint64 pid)
{
    double ns = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + '/' + task + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly))
            ns += stat.readAll().split(' ').front().toDouble();
    }
    return ns / 1e6;
}

double ownCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

double cpuSecondsNow()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

void benchOurs(const QString &path, const std::vector<uint64_t> &ref,
    const std::vector<int> &targets, Result &r)
{
    resetPeakRss();
    const double cpuStart = cpuSecondsNow();
    auto start = Clock::now();
    QString error;
    auto source = video::openFrameSource(path, &error, decodeOptions);
    if (!source) {
        std::fprintf(stderr, "open failed: %s\n", qPrintable(error));
        return;
    }
    QImage first = source->frameAt(0);
    const double openMs = msSince(start);
    r.ours["open"].add(openMs, hashImage(first) == ref[0]);
    source->setDecodeAhead(atRest);
    for (int t : targets) {
        source->waitForRest();
        const qint64 decodedBefore = source->stats().framesDecoded;
        const double cpuBefore = ownCpuMs();
        start = Clock::now();
        QImage image = source->frameAt(t);
        const double seekMs = msSince(start);
        cpuPerSeek.push_back(ownCpuMs() - cpuBefore);
        decodedPerSeek.push_back(source->stats().framesDecoded - decodedBefore);
        r.ours["seek"].add(seekMs, hashImage(image) == ref[size_t(t)]);
        int p = t;
        for (const Move &m : kMoves) {
            p += m.delta;
            source->waitForRest();
            start = Clock::now();
            image = source->frameAt(p);
            const double ms = msSince(start);
            r.ours[m.op].add(ms, hashImage(image) == ref[size_t(p)]);
        }
    }
    r.peakKb = std::max(r.peakKb, peakRssKb());
    r.capMb = source->stats().cacheCapBytes / (1024 * 1024);
    r.framesDecoded += source->stats().framesDecoded;
    source.reset();
    r.cpuSeconds += cpuSecondsNow() - cpuStart;
}

// The same trials through the console program, as a script would drive it.
void benchConsole(const QString &program, const QString &path, const std::vector<int> &targets,
    Result &r)
{
    using namespace std::chrono_literals;
    QProcess mci;
    mci.setProcessChannelMode(QProcess::SeparateChannels);
    mci.setStandardErrorFile(QProcess::nullDevice());
    mci.start(program, {});
    if (!mci.waitForStarted(10000)) {
        std::fprintf(stderr, "%s did not start\n", qPrintable(program));
        return;
    }
    const auto send = [&](const QString &command) -> QString {
        mci.write((command + QLatin1Char('\n')).toUtf8());
        while (!mci.canReadLine()) {
            if (!mci.waitForReadyRead(60000))
                return QStringLiteral("(no reply)");
        }
        return QString::fromUtf8(mci.readLine()).trimmed();
    };
    const auto at = [&](int p) { return send(QStringLiteral("status v position")) ==
                                     QString::number(p); };
    const auto rest = [] {
        if (atRest)
            std::this_thread::sleep_for(300ms);
    };
    resetPeakRss();
    auto start = Clock::now();
    const bool opened = send(QStringLiteral("open \"%1\" type avivideo alias v").arg(path)).isEmpty();
    r.ours["open"].add(msSince(start), opened && at(0));
    for (int t : targets) {
        rest();
        const double cpuBefore = cpuMsOf(mci.processId());
        start = Clock::now();
        bool done = send(QStringLiteral("seek v to %1").arg(t)).isEmpty();
        const double seekMs = msSince(start);
        cpuPerSeek.push_back(cpuMsOf(mci.processId()) - cpuBefore);
        r.ours["seek"].add(seekMs, done && at(t));
        int p = t;
        for (const Move &m : kMoves) {
            p += m.delta;
            rest();
            start = Clock::now();
            done = send(QStringLiteral("seek v to %1").arg(p)).isEmpty();
            const double ms = msSince(start);
            r.ours[m.op].add(ms, done && at(p));
        }
    }
    // The console's peak, not this bench's.
    const QString peak = QStringLiteral("/proc/%1/status").arg(mci.processId());
    QFile status(peak);
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmHWM:"))
                r.peakKb = line.mid(6).trimmed().split(' ').front().toLongLong();
        }
    }
    send(QStringLiteral("close v"));
    mci.closeWriteChannel();
    if (!mci.waitForFinished(10000))
        mci.kill();
}

void benchMpv(const QString &path, double fps, const std::vector<int> &targets, Result &r)
{
    using namespace std::chrono_literals;
    MpvClient mpv;
    const QString socket = QDir::tempPath() + QStringLiteral("/kurimo-seek-bench.sock");
    if (!mpv.start(socket)) {
        std::fprintf(stderr, "mpv did not start\n");
        return;
    }
    // time-pos is reported as it changes; estimated-frame-number only when asked.
    mpv.observe(1, QStringLiteral("time-pos"));
    auto frameNow = [&] { return mpv.getProperty("estimated-frame-number", 5000ms); };
    // Done when time-pos shows the frame and, for commands that seek (all but frame-step),
    // mpv has also announced the restart of playback; a frame-step sent before that is lost.
    auto waitFrame = [&](int frame, bool seeks) {
        const auto deadline = Clock::now() + 15000ms;
        bool there = false;
        bool restarted = !seeks;
        while (!(there && restarted)) {
            const auto message = mpv.readMessage(deadline);
            if (!message)
                return false;
            if (message->value("event").toString() == "playback-restart")
                restarted = true;
            if (message->value("event").toString() == "property-change" &&
                message->value("name").toString() == "time-pos" &&
                message->value("data").isDouble())
                there = std::lround(message->value("data").toDouble() * fps) == frame;
        }
        return true;
    };
    auto start = Clock::now();
    mpv.command({"loadfile", path});
    const bool loaded = mpv.waitEvent("playback-restart", 30000ms);
    r.mpv["open"].add(msSince(start), loaded && frameNow() == 0.0);
    int at = 0;
    const auto rest = [] {
        if (atRest)
            std::this_thread::sleep_for(300ms);
    };
    for (int t : targets) {
        rest();
        start = Clock::now();
        mpv.command({"seek", QString::number(t / fps, 'f', 6), "absolute+exact"});
        const bool landed = t == at || waitFrame(t, true);
        r.mpv["seek"].add(msSince(start), landed && frameNow() == double(t));
        int p = t;
        for (const Move &m : kMoves) {
            p += m.delta;
            rest();
            start = Clock::now();
            if (m.delta == 1)
                mpv.command({"frame-step"});
            else if (m.delta == -1)
                mpv.command({"frame-back-step"});
            else
                mpv.command({"seek", QString::number(m.delta / fps, 'f', 6), "relative+exact"});
            const bool seen = waitFrame(p, m.delta != 1);
            const double ms = msSince(start);
            r.mpv[m.op].add(ms, seen && frameNow() == double(p));
        }
        at = p;
    }
    mpv.stop();
}

// The outside measurements' 1080p files: 25 fps testsrc2 with noise and MP3 sound.
std::vector<BenchFile> floorFiles(int frames)
{
    const QString seconds = QString::number(frames / 25.0, 'f', 2);
    const QStringList source{"-f", "lavfi", "-i",
        QStringLiteral("testsrc2=s=1920x1080:r=25:d=%1,noise=alls=3:allf=t").arg(seconds), "-f",
        "lavfi", "-i", QStringLiteral("sine=frequency=440:duration=%1").arg(seconds),
        "-frames:v", QString::number(frames), "-c:a", "libmp3lame", "-b:a", "128k"};
    const auto own = [&](const QString &name, const QStringList &codec) {
        return BenchFile{name, 1920, 1080, {}, source + codec};
    };
    const auto copy = [](const QString &name, const char *format) {
        return BenchFile{name, 1920, 1080, {},
            {"-map", "0:v", "-c", "copy", "-f", QString::fromLatin1(format)}, 0};
    };
    return {own("h264", {"-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-g", "250",
                            "-pix_fmt", "yuv420p", "-b:v", "8M"}),
        copy("h264-mp4", "mp4"), copy("h264-mkv", "matroska"),
        own("mpeg4", {"-c:v", "mpeg4", "-vtag", "XVID", "-bf", "2", "-g", "250", "-b:v", "10M"}),
        own("mjpeg", {"-c:v", "mjpeg", "-q:v", "4"})};
}

double ratioOfMeans(const Series &a, const Series &b)
{
    return a.ms.empty() || b.mean() <= 0 ? 0 : a.mean() / b.mean();
}

const char kUsage[] =
    "seek_bench: exact seeks, steps and wind steps, ours against mpv's\n"
    "  --floor          the 1080p files of the outside measurements (750 frames, sound),\n"
    "                   12 targets after a 300 ms rest; each seek beside its decoding floor\n"
    "  --mpv            with --floor: mpv too\n"
    "  --targets        with --floor: every target's times\n"
    "  --mci PATH       through the console program instead of direct calls\n"
    "  --trials N       targets per file (8; 12 with --floor)\n"
    "  --only TEXT      the files whose label contains TEXT\n"
    "  --frames N       frames per file (300; 750 with --floor)\n"
    "  --rest           300 ms rest before each operation (always with --floor)\n"
    "  --containers     H.264 in MP4 and MKV, HEVC in MP4 instead of the AVIs\n"
    "  --quick          without 1280x720\n"
    "  --repeat N       ours N times over the same targets\n"
    "  --no-mpv, --no-skip, --no-pool, --no-prefault   see the source\n";

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.contains("--help") || args.contains("-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    const bool floorSet = args.contains("--floor");
    const bool quick = args.contains("--quick");
    const bool withMpv = floorSet ? args.contains("--mpv") : !args.contains("--no-mpv");
    const bool listTargets = args.contains("--targets");
    decodeOptions.pooledMemory = !args.contains("--no-pool");
    decodeOptions.prefaultedMemory = !args.contains("--no-prefault");
    int trials = floorSet ? 12 : 8;
    if (const int i = int(args.indexOf("--trials")); i >= 0 && i + 1 < args.size())
        trials = args[i + 1].toInt();
    atRest = floorSet || args.contains("--rest");
    decodeOptions.skipFarPictures = !args.contains("--no-skip");
    int frames = floorSet ? 750 : 300;
    if (const int i = int(args.indexOf("--frames")); i >= 0 && i + 1 < args.size())
        frames = std::max(60, args[i + 1].toInt());
    QString console;
    if (const int i = int(args.indexOf("--mci")); i >= 0 && i + 1 < args.size())
        console = args[i + 1];
    int repeat = 1;
    if (const int i = int(args.indexOf("--repeat")); i >= 0 && i + 1 < args.size())
        repeat = std::max(1, args[i + 1].toInt());

    const QStringList h264{"-c:v", "libx264", "-preset", "veryfast", "-bf", "2", "-g", "250",
        "-keyint_min", "250", "-sc_threshold", "0", "-pix_fmt", "yuv420p"};
    const QStringList xvid{"-c:v", "libxvid", "-bf", "2", "-g", "250", "-q:v", "4"};
    const QStringList mjpeg{"-c:v", "mjpeg", "-q:v", "4"};
    std::vector<BenchFile> files;
    for (auto [w, h] : {std::pair{320, 240}, std::pair{1280, 720}, std::pair{1920, 1080}}) {
        if (quick && w == 1280)
            continue;
        files.push_back({"h264", w, h, h264});
        files.push_back({"mpeg4-xvid", w, h, xvid});
        files.push_back({"mjpeg", w, h, mjpeg});
        if (w == 320) {
            files.push_back({"dib24", w, h, {"-c:v", "rawvideo", "-pix_fmt", "bgr24"}});
            files.push_back({"msvideo1", w, h, {"-c:v", "msvideo1", "-g", "250"}});
            files.push_back({"cinepak", w, h, {"-c:v", "cinepak", "-g", "250"}});
            files.push_back({"huffyuv", w, h, {"-c:v", "huffyuv"}});
        }
    }

    if (args.contains("--containers")) {
        files = {{"h264-mp4", 1920, 1080, h264 + QStringList{"-f", "mp4"}},
            {"h264-mkv", 1920, 1080, h264 + QStringList{"-f", "matroska"}},
            {"hevc-mp4", 1280, 720,
                {"-c:v", "libx265", "-preset", "fast", "-x265-params",
                    "keyint=250:min-keyint=250:scenecut=0:bframes=3:log-level=none", "-f",
                    "mp4"}}};
    }

    if (floorSet)
        files = floorFiles(frames);

    QString only;
    if (const int i = int(args.indexOf("--only")); i >= 0 && i + 1 < args.size())
        only = args[i + 1];
    const QString dir = QStringLiteral(KURIMO_BENCH_DATA_DIR);
    const auto label = [](const BenchFile &f) {
        return QStringLiteral("%1 %2x%3").arg(f.name).arg(f.width).arg(f.height);
    };
    // A copy's source is made first, whether or not it is measured itself.
    std::function<QString(size_t, QString *)> makeFile = [&](size_t k, QString *error) {
        const BenchFile &f = files[k];
        const QString fileName = QStringLiteral("%1-%2x%3").arg(f.name).arg(f.width).arg(f.height) +
            (frames == 300 ? QString() : QStringLiteral("-%1").arg(frames));
        QStringList recipe = f.recipe;
        if (f.copyOf >= 0) {
            const QString source = makeFile(size_t(f.copyOf), error);
            if (source.isEmpty())
                return QString();
            recipe = QStringList{"-fflags", "+genpts", "-i", source} + f.recipe;
        } else if (recipe.isEmpty()) {
            // 12 s at 25 fps by default: keyframes at 0 and 250.
            recipe = QStringList{"-f", "lavfi", "-i",
                QStringLiteral("testsrc2=size=%1x%2:rate=25").arg(f.width).arg(f.height),
                "-frames:v", QString::number(frames), "-an"} + f.codecArgs;
        }
        return ClipCorpus::generate(fileName, recipe, error, dir);
    };
    if (floorSet) {
        std::printf("| file | exact seek, ours (median / mean) | floor (median / mean) | "
                    "ours / floor (means) | ours / floor (CPU time) | mpv (median / mean) | "
                    "mpv / ours (means) | wrong frames ours/mpv |\n|---|---|---|---|---|---|---|---|\n");
    } else {
        std::printf("| file | frames | op | ours median | ours worst | mpv median | mpv worst | "
                    "mpv/ours (median) | mpv/ours (mean) | wrong frames ours/mpv |\n");
        std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    }
    for (size_t k = 0; k < files.size(); ++k) {
        const BenchFile &f = files[k];
        if (!label(f).contains(only))
            continue;
        QString error;
        const QString path = makeFile(k, &error);
        if (path.isEmpty()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(label(f)), qPrintable(error));
            continue;
        }
        const std::vector<uint64_t> ref = referenceHashes(path);
        std::mt19937 random(42);
        std::vector<int> targets;
        for (int i = 0; i < trials; ++i)
            targets.push_back(20 + int(random() % unsigned(ref.size() - 40)));
        Result r;
        r.frames = int(ref.size());
        // The floor of each target is taken before ours and again after, on a decoder of
        // its own with no console running beside it, and the two averaged: a load that
        // changes during the run weighs on both sides alike.
        DecodingFloor floor;
        std::vector<int> floorDecoded(targets.size(), 0);
        std::vector<double> floorCpu(targets.size(), 0.0);
        std::vector<double> floorMs(targets.size(), 0.0);
        const auto floorPass = [&] {
            for (size_t i = 0; i < targets.size(); ++i) {
                const double cpuBefore = ownCpuMs();
                const double ms = floor.msTo(targets[i]);
                floorCpu[i] += (ownCpuMs() - cpuBefore) / 2;
                floorMs[i] += ms < 0 ? -1e9 : ms / 2;
                floorDecoded[i] = floor.lastDecoded();
            }
        };
        if (floorSet) {
            if (!floor.load(path, r.frames, &error)) {
                std::fprintf(stderr, "%s: no floor: %s\n", qPrintable(label(f)),
                    qPrintable(error));
                continue;
            }
            floorPass();
        }
        decodedPerSeek.clear();
        cpuPerSeek.clear();
        for (int i = 0; i < repeat; ++i) {
            if (console.isEmpty())
                benchOurs(path, ref, targets, r);
            else
                benchConsole(console, path, targets, r);
        }
        if (floorSet) {
            floorPass();
            for (double ms : floorMs)
                r.floor.add(ms, ms >= 0);
        }
        if (withMpv)
            benchMpv(path, 25.0, targets, r);
        if (floorSet) {
            const Series &o = r.ours["seek"];
            const Series &m = r.mpv["seek"];
            if (listTargets) {
                for (size_t i = 0; i < o.ms.size(); ++i)
                    std::fprintf(stderr,
                        "%s target %d: ours %.1f ms (CPU %.1f, %s pictures), floor %.1f (CPU "
                        "%.1f, %d), mpv %s\n",
                        qPrintable(label(f)), targets[i % targets.size()], o.ms[i],
                        i < cpuPerSeek.size() ? cpuPerSeek[i] : -1.0,
                        i < decodedPerSeek.size()
                            ? qPrintable(QString::number(decodedPerSeek[i]))
                            : "?",
                        r.floor.ms[i % targets.size()], floorCpu[i % targets.size()],
                        floorDecoded[i % targets.size()],
                        m.ms.size() > i ? qPrintable(QString::number(m.ms[i], 'f', 1)) : "-");
            }
            const auto pair = [](const Series &x) {
                return x.ms.empty() ? QStringLiteral("-")
                                    : QStringLiteral("%1 / %2")
                                          .arg(x.median(), 0, 'f', 1)
                                          .arg(x.mean(), 0, 'f', 1);
            };
            double oursCpu = 0;
            double floorCpuSum = 0;
            for (size_t i = 0; i < cpuPerSeek.size(); ++i) {
                oursCpu += cpuPerSeek[i];
                floorCpuSum += floorCpu[i % targets.size()];
            }
            std::printf("| %s | %s | %s | %.2fx | %.2fx | %s | %s | %d/%s |\n",
                qPrintable(label(f)), qPrintable(pair(o)), qPrintable(pair(r.floor)),
                ratioOfMeans(o, r.floor), floorCpuSum > 0 ? oursCpu / floorCpuSum : 0.0,
                qPrintable(pair(m)),
                m.ms.empty() ? "-" : qPrintable(QStringLiteral("%1x").arg(ratioOfMeans(m, o), 0, 'f', 2)),
                o.wrong, m.ms.empty() ? "-" : qPrintable(QString::number(m.wrong)));
            std::fflush(stdout);
            continue;
        }
        for (const char *op : kOps) {
            const Series &o = r.ours[op];
            const Series &m = r.mpv[op];
            const auto ratio = [&](double mpvMs, double oursMs) {
                return m.ms.empty() || oursMs <= 0 ? QStringLiteral("-")
                                                   : QString::number(mpvMs / oursMs, 'f', 1);
            };
            std::printf("| %s | %d | %s | %.1f | %.1f | %s | %s | %s | %s | %d/%s |\n",
                qPrintable(label(f)), r.frames, op, o.median(), o.worst(),
                m.ms.empty() ? "-" : qPrintable(QString::number(m.median(), 'f', 1)),
                m.ms.empty() ? "-" : qPrintable(QString::number(m.worst(), 'f', 1)),
                qPrintable(ratio(m.median(), o.median())), qPrintable(ratio(m.mean(), o.mean())),
                o.wrong, m.ms.empty() ? "-" : qPrintable(QString::number(m.wrong)));
        }
        std::printf("| %s | %d | peak RSS / cache cap | %lld MB / %lld MB | | | | | | |\n",
            qPrintable(label(f)), r.frames, r.peakKb / 1024, r.capMb);
        if (console.isEmpty()) {
            std::printf("| %s | %d | frames decoded, CPU time (ours, all trials) | %lld, "
                        "%.1f s | | | | | | |\n",
                qPrintable(label(f)), r.frames, static_cast<long long>(r.framesDecoded),
                r.cpuSeconds);
        }
        std::fflush(stdout);
    }
    return 0;
}
