// play_bench: how well the video device keeps time on large files, and what reverse play costs.
//
//   play_bench [FILE...]
//
// Without FILE it makes a 1920x1080 H.264 AVI (25 fps, 10 s, keyframe every 50, 2 B-frames,
// PCM sound) with ffmpeg under the build tree. Every measurement runs in a child process of
// its own, so that its CPU time and peak memory (from wait4) are its alone:
//
//   forward/reverse at a speed: the device plays the whole file in real time with the program's
//     steady clock and the silent sound stand-in ("play ... wait"); reported are the frames it
//     had to skip, the wall time against the ideal, CPU time and peak resident memory.
//   untimed frameAt: the frames of the whole file fetched one after another as fast as they
//     come, in play order (RGB32 at source size), on one thread.
//   untimed play: the play's own decode side (decode thread, queue of decoded frames, each
//     converted by the taker) with each frame due as soon as the one before is taken; every
//     frame is checked to come out at its position.
//   mpv: mpv --untimed --vo=null --ao=null --no-audio, forwards and with --play-dir=backward
//     (mpv decodes to its own formats and converts nothing for a null output).

#include "platform/video/FrameSource.h"
#include "platform/video/device/Opening.h"
#include "platform/video/Registration.h"
#include "platform/video/audio/AudioTrack.h"
#include "platform/video/play/DecodeAhead.h"
#include "platform/video/play/Player.h"
#include "platform/mci/Interpreter.h"
#include "tests/support/ClipCorpus.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <string>
#include <vector>

namespace {

struct Usage {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKiB = 0;
    std::string output;
    int status = -1;
};

// Runs argv as a child; its stdout, wall time, CPU time and peak memory.
Usage runChild(const std::vector<std::string> &args)
{
    Usage usage;
    int fds[2];
    if (::pipe(fds) != 0)
        return usage;
    QElapsedTimer wall;
    wall.start();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        usage.output.append(buffer, std::size_t(n));
    ::close(fds[0]);
    rusage ru{};
    ::wait4(pid, &usage.status, 0, &ru);
    usage.wallSeconds = wall.nsecsElapsed() / 1e9;
    usage.cpuSeconds = ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec
        + ru.ru_stime.tv_usec / 1e6;
    usage.peakKiB = ru.ru_maxrss;
    return usage;
}

// Child: one timed play through the interpreter, as the panel sends it.
int timedPlay(const QString &path, bool reverse, int speed)
{
    video::setSilentAudioOnly(true);
    mci::Interpreter interpreter;
    video::registerVideoDevice(interpreter);
    const auto must = [&](const QString &command) {
        const mci::Result r = interpreter.send(command);
        if (!r.ok)
            std::fprintf(stderr, "%s: %s\n", qPrintable(command), qPrintable(r.error));
        return r;
    };
    if (!must("open " + path + " type avivideo alias v").ok)
        return 1;
    const int length = must("status v length").reply.toInt();
    const double fps = must("status v frame rate").reply.toDouble() / 1000.0;
    must("put v window at 0 0 1920 1100");
    must(reverse ? QStringLiteral("seek v to end") : QStringLiteral("seek v to start"));
    must("set v speed " + QString::number(speed));
    QElapsedTimer timer;
    timer.start();
    must(reverse ? QStringLiteral("play v from %1 to 0 reverse wait").arg(length)
                 : QStringLiteral("play v from 0 to %1 wait").arg(length));
    const double seconds = timer.nsecsElapsed() / 1e9;
    std::printf("%d %.3f %.3f %s\n", length, seconds, length / fps / (speed / 1000.0),
        qPrintable(must("status v frames skipped").reply));
    must("close v");
    return 0;
}

std::unique_ptr<video::FrameSource> openOrSay(const QString &path)
{
    QString error;
    std::unique_ptr<video::FrameSource> source = video::openFrameSource(path, &error);
    if (!source)
        std::fprintf(stderr, "%s\n", qPrintable(error));
    return source;
}

// Child: every frame in play order, untimed.
int untimed(const QString &path, bool reverse)
{
    std::unique_ptr<video::FrameSource> source = openOrSay(path);
    if (!source)
        return 1;
    const int count = source->info().frameCount;
    QElapsedTimer timer;
    timer.start();
    int bad = 0;
    for (int i = 0; i < count; ++i)
        bad += source->frameAt(reverse ? count - 1 - i : i).isNull();
    std::printf("%d %.3f %d\n", count, timer.nsecsElapsed() / 1e9, bad);
    return 0;
}

// Child: the play's own decode side (decode thread, queue, conversion by the taker) untimed:
// each frame is due as soon as the one before it is taken, so nothing is skipped; counts
// frames that came out at the wrong position or without a picture.
int pipelined(const QString &path, bool reverse)
{
    std::unique_ptr<video::FrameSource> source = openOrSay(path);
    if (!source)
        return 1;
    const int count = source->info().frameCount;
    video::PlayPlan plan;
    plan.from = reverse ? count - 1 : 0;
    plan.to = reverse ? 0 : count - 1;
    plan.backward = reverse;
    const qint64 pixels = qint64(source->info().width) * source->info().height;
    const int capacity = video::Player::queueCapacityFor(video::Player::Options{},
        source->pictureBytes(), pixels, reverse);
    // As a device would: the cache within the same budget as the queue.
    const video::MemoryBudget budget =
        video::MemoryBudget::forPicture(source->pictureBytes(), pixels);
    source->setCacheCapBytes(reverse ? budget.reverseCacheBytes : budget.cacheBytes);
    QElapsedTimer timer;
    timer.start();
    int bad = 0;
    {
        video::DecodeAhead ahead(*source);
        ahead.begin(plan, 0, capacity);
        for (qint64 ordinal = 0; ordinal <= plan.lastOrdinal(); ++ordinal) {
            ahead.setDue(ordinal);
            std::optional<video::DecodeAhead::Frame> frame;
            while (!(frame = ahead.takeUpTo(ordinal)))
                std::this_thread::sleep_for(std::chrono::microseconds(100));
            bad += frame->ordinal != ordinal || frame->position != plan.positionOf(ordinal) ||
                !frame->picture || frame->picture->toImage().isNull();
        }
    }
    std::printf("%d %.3f %d %d\n", count, timer.nsecsElapsed() / 1e9, bad, capacity);
    return 0;
}

QString makeFile()
{
    QString error;
    const QString path = ClipCorpus::generate(QStringLiteral("play-1080p-h264"),
        {"-f", "lavfi", "-i", "testsrc2=size=1920x1080:rate=25", "-f", "lavfi", "-i",
            "sine=frequency=440:sample_rate=44100", "-frames:v", "250", "-t", "10", "-c:v",
            "libx264", "-bf", "2", "-g", "50", "-keyint_min", "50", "-sc_threshold", "0",
            "-pix_fmt", "yuv420p", "-preset", "fast", "-c:a", "pcm_s16le", "-ac", "2"},
        &error, QStringLiteral(KURIMO_BENCH_DATA_DIR));
    if (path.isEmpty())
        std::fprintf(stderr, "cannot make the bench file: %s\n", qPrintable(error));
    return path;
}

double perGiB(double framesPerSecond, long peakKiB)
{
    return peakKiB > 0 ? framesPerSecond / (peakKiB / 1024.0 / 1024.0) : 0;
}

void benchFile(const std::string &self, const QString &path)
{
    const std::string file = path.toStdString();
    std::printf("file: %s\n\n", qPrintable(QFileInfo(path).fileName()));

    std::printf("| run | frames | wall s | ideal s | skipped | CPU s | CPU %% | peak MiB |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const auto &[direction, speed] : {std::pair{"forward", 1000}, {"forward", 3000},
             {"reverse", 1000}, {"reverse", 3000}}) {
        const Usage u = runChild({self, "--timed", file, direction, std::to_string(speed)});
        int frames = 0, skipped = 0;
        double wall = 0, ideal = 0;
        std::sscanf(u.output.c_str(), "%d %lf %lf %d", &frames, &wall, &ideal, &skipped);
        std::printf("| kurimo %s speed %d | %d | %.2f | %.2f | %d | %.2f | %.0f | %.0f |\n",
            direction, speed, frames, wall, ideal, skipped, u.cpuSeconds,
            100.0 * u.cpuSeconds / u.wallSeconds, u.peakKiB / 1024.0);
    }

    int fileFrames = 0;
    double oursReversePerGiB = 0;
    std::printf("\n| untimed run | frames | s | frames/s | CPU s | peak MiB | frames/s per GiB |"
                " wrong |\n");
    std::printf("|---|---|---|---|---|---|---|---|\n");
    for (const char *mode : {"--untimed", "--pipelined"}) {
        for (const char *direction : {"forward", "reverse"}) {
            const Usage u = runChild({self, mode, file, direction});
            int frames = 0, bad = 0, capacity = 0;
            double seconds = 0;
            std::sscanf(u.output.c_str(), "%d %lf %d %d", &frames, &seconds, &bad, &capacity);
            fileFrames = frames;
            const double fps = seconds > 0 ? frames / seconds : 0;
            const bool pipeline = std::string(mode) == "--pipelined";
            if (pipeline && std::string(direction) == "reverse")
                oursReversePerGiB = perGiB(fps, u.peakKiB);
            const std::string what = pipeline
                ? "kurimo play, " + std::string(direction) + " (queue " +
                    std::to_string(capacity) + ")"
                : "kurimo frameAt, " + std::string(direction);
            std::printf("| %s | %d | %.2f | %.1f | %.2f | %.0f | %.0f | %d |\n", what.c_str(),
                frames, seconds, fps, u.cpuSeconds, u.peakKiB / 1024.0,
                perGiB(fps, u.peakKiB), bad);
        }
    }
    double mpvReversePerGiB = 0;
    for (const bool backward : {false, true}) {
        // Without --no-audio the null audio output still runs in real time and sets the pace.
        std::vector<std::string> mpv{"mpv", "--no-config", "--untimed", "--vo=null",
            "--ao=null", "--no-audio", "--really-quiet"};
        if (backward)
            mpv.push_back("--play-dir=backward");
        mpv.push_back(file);
        const Usage u = runChild(mpv);
        if (u.status != 0) {
            std::printf("| mpv %s | (mpv failed or missing) | | | | | | |\n",
                backward ? "backward" : "forward");
            continue;
        }
        const double fps = fileFrames / u.wallSeconds;
        if (backward)
            mpvReversePerGiB = perGiB(fps, u.peakKiB);
        std::printf("| mpv %s (whole run) | %d | %.2f | %.1f | %.2f | %.0f | %.0f | |\n",
            backward ? "--play-dir=backward" : "forward", fileFrames, u.wallSeconds, fps,
            u.cpuSeconds, u.peakKiB / 1024.0, perGiB(fps, u.peakKiB));
    }
    if (mpvReversePerGiB > 0)
        std::printf("\nreverse frames/s per GiB, kurimo play / mpv: %.2f\n",
            oursReversePerGiB / mpvReversePerGiB);
    std::printf("\n");
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();

    // Children.
    if (args.size() >= 4 && args[1] == "--timed")
        return timedPlay(args[2], args[3] == "reverse", args.value(4).toInt());
    if (args.size() >= 4 && args[1] == "--untimed")
        return untimed(args[2], args[3] == "reverse");
    if (args.size() >= 4 && args[1] == "--pipelined")
        return pipelined(args[2], args[3] == "reverse");

    QStringList paths = args.mid(1);
    if (paths.isEmpty())
        paths << makeFile();
    if (paths.contains(QString()))
        return 1;
    const std::string self = QFileInfo(args[0]).absoluteFilePath().toStdString();
    for (const QString &path : paths)
        benchFile(self, path);
    return 0;
}
