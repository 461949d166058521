#include "platform/video/device/VideoDevice.h"
#include "platform/mci/Interpreter.h"
#include "platform/mci/Surfaces.h"
#include "tests/device/FakeFrameSource.h"
#include "tests/mci/TraceFile.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>

namespace {

// The video device over a fake source on a hand-driven clock, with two changes so that any
// text at all can be sent to it safely: a capture writes into the test's folder whatever path
// it names, so that no mutated path reaches a file elsewhere, and "wait" stops the play
// instead of waiting for an end that the hand-driven clock would never bring.
class FuzzDevice final : public video::VideoDevice {
public:
    FuzzDevice(const QString &path, const QString &captureDir, std::set<FuzzDevice *> &live,
        std::shared_ptr<video::ManualClock> clock = std::make_shared<video::ManualClock>())
        : VideoDevice(path, std::make_unique<FakeFrameSource>(50, 32, 24),
              std::make_unique<FakeAudioTrack>(clock), {clock, {.autoTick = false}}),
          m_clock(clock), m_captureDir(captureDir), m_live(live)
    {
        m_live.insert(this);
    }
    ~FuzzDevice() override { m_live.erase(this); }

    // One frame period of the fake's 25 fps, and the presentation step after it.
    void advance()
    {
        m_clock->advance(std::chrono::milliseconds(40));
        player().waitForDecoder();
        player().tick();
    }

    mci::Result capture(const QString &path) override
    {
        return VideoDevice::capture(m_captureDir + QStringLiteral("/%1.bmp").arg(qHash(path) % 4));
    }
    void waitForPlayEnd() override { stop(); }

private:
    std::shared_ptr<video::ManualClock> m_clock;
    QString m_captureDir;
    std::set<FuzzDevice *> &m_live;
};

// Whole commands that work, to mutate; %1 is the drawing surface's handle.
const char *const kSeeds[] = {
    "open /v/clip.avi alias v",
    "open /v/my clip.avi",
    "open \"/v/a type b.avi\" type avivideo alias \"x y\"",
    "play v from 0 to 40",
    "play v from 40 to 3 reverse",
    "play /v/my clip.avi from 5 repeat",
    "play v wait",
    "pause v",
    "stop v",
    "seek v to 25",
    "seek v to end",
    "seek /v/my clip.avi to start wait",
    "status v length",
    "status v frame rate",
    "status v frames skipped",
    "status v time format",
    "set v time format ms",
    "set v time format frames",
    "set v speed 250",
    "set v audio all off",
    "where v source",
    "put v window at 10 10 320 260",
    "update v at 0 0 64 48 hdc %1",
    "capture v as frame.bmp",
    "capture /v/my clip.avi as /tmp/a frame.bmp wait",
    "capability v can play",
};

const char *const kWords[] = {
    "open", "close", "play", "pause", "stop", "seek", "status", "set", "where", "put",
    "update", "capture", "capability", "all", "v", "x y", "/v/my clip.avi", "from", "to",
    "reverse", "repeat", "wait", "start", "end", "length", "position", "mode", "frame",
    "rate", "speed", "time", "format", "ms", "milliseconds", "frames", "audio", "on", "off",
    "source", "window", "at", "hdc", "as", "can", "type", "alias", "avivideo", "skipped",
    "0", "1", "-1", "49", "50", "51", "2000", "2147483647", "-2147483648", "2147483648",
    "99999999999999999999", "+3", "0x10", "1e3", "\"", "\"\"", "\"a b\"", "\t", "  ",
};

class Lines {
public:
    explicit Lines(quint32 surface) : m_surface(QString::number(surface)) {}

    QString seed()
    {
        return QString::fromUtf8(kSeeds[below(std::size(kSeeds))])
            .replace(QLatin1String("%1"), m_surface);
    }

    // Mostly a verb and an open device's name, then words of the command language in random
    // order, with now and then a random byte.
    QByteArray randomLine()
    {
        QByteArray line;
        if (below(10) != 0) {
            line += kWords[below(13)]; // the verbs come first
            line += below(3) ? " v " : " /v/my clip.avi ";
        }
        for (int n = below(8); n > 0; --n) {
            if (below(8) == 0)
                line += char(m_random());
            else
                line += kWords[below(std::size(kWords))];
            line += below(6) == 0 ? "\t" : " ";
        }
        return line;
    }

    // A working command with other numbers in it: the extremes, one past them, just outside
    // the file. These are the lines that reach the device's arithmetic.
    QString renumbered()
    {
        static const char *const numbers[] = {"0", "1", "-1", "49", "50", "51", "1999", "2000",
            "2001", "16384", "16385", "-16384", "1000000", "2147483647", "-2147483648",
            "2147483648", "99999999999"};
        QString line = seed();
        QString out;
        for (qsizetype i = 0; i < line.size();) {
            if (!line[i].isDigit() || (i > 0 && !line[i - 1].isSpace())) {
                out += line[i++];
                continue;
            }
            while (i < line.size() && line[i].isDigit())
                ++i;
            out += QLatin1String(numbers[below(std::size(numbers))]);
        }
        return out;
    }

    // A working command, damaged: bytes changed, put in, cut out or doubled, or two commands
    // spliced. Changed bytes include NUL and bytes that are not UTF-8.
    QByteArray mutatedLine()
    {
        QByteArray line = seed().toUtf8();
        for (int n = below(4) ? 1 : 2; n > 0; --n) {
            // Mostly behind the verb, so that most lines still reach a device.
            const int verbEnd = std::max(0, int(line.indexOf(' ')));
            const int at = below(3) ? verbEnd + below(line.size() - verbEnd + 1)
                                    : below(line.size() + 1);
            switch (below(5)) {
            case 0:
                if (at < line.size())
                    line[at] = char(m_random());
                break;
            case 1: line.insert(at, char(m_random())); break;
            case 2: line.remove(at, 1 + below(6)); break;
            case 3: line.insert(at, line.mid(below(line.size()), 1 + below(10))); break;
            default: line = line.left(at) + seed().toUtf8().mid(below(20)); break;
            }
        }
        return line;
    }

    int below(qsizetype n) { return n > 0 ? int(m_random() % quint64(n)) : 0; }

private:
    std::mt19937_64 m_random{20240517};
    QString m_surface;
};

// Random and mutated command lines through the interpreter and the video device: every line
// gets a result (a reply, or an error that says something), the trace keeps one line per
// command whatever bytes it held, and nothing crashes. Under AddressSanitizer and
// UndefinedBehaviorSanitizer a bad access, a leak or an overflow fails the run too.
TEST(CommandFuzz, AnyLineGivesOneResultAndOneTraceLine)
{
    TraceFile trace;
    QTemporaryDir captures;
    std::set<FuzzDevice *> live;
    mci::Interpreter interpreter;
    interpreter.registerType(QStringLiteral("avivideo"),
        [&](const QString &path, QString *error) -> std::unique_ptr<mci::Device> {
            if (live.size() >= 6) {
                *error = QStringLiteral("too many open");
                return nullptr;
            }
            return std::make_unique<FuzzDevice>(path, captures.path(), live);
        });
    QImage surface(64, 48, QImage::Format_RGB32);
    const quint32 handle = mci::Surfaces::registerSurface(&surface);
    Lines lines(handle);

    const int count = 10000;
    for (int n = 0; n < count; ++n) {
        QString line;
        switch (n % 40) {
        case 0: line = QStringLiteral("close all"); break;
        case 1: line = QStringLiteral("open /v/clip.avi alias v"); break;
        case 2: line = QStringLiteral("open /v/my clip.avi"); break;
        default:
            switch (n % 3) {
            case 0: line = lines.renumbered(); break;
            case 1: line = QString::fromUtf8(lines.randomLine()); break;
            default: line = QString::fromUtf8(lines.mutatedLine()); break;
            }
            break;
        }
        const mci::Result r = interpreter.send(line);
        ASSERT_TRUE(r.ok || !r.error.isEmpty()) << n;
        EXPECT_LE(r.error.size(), 200) << n;
        for (FuzzDevice *device : live)
            device->advance();
        if (n % 50 == 0)
            QCoreApplication::processEvents();
    }
    interpreter.send(QStringLiteral("close all"));
    mci::Surfaces::unregisterSurface(handle);

    const QStringList traced = trace.lines();
    ASSERT_EQ(traced.size(), count + 1);
    for (const QString &l : traced)
        ASSERT_EQ(l.count(u'\t'), 1) << qPrintable(l.left(80));
}

} // namespace
