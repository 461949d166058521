#include "platform/video/FrameSource.h"
#include "platform/video/device/Opening.h"
#include "tests/support/ClipCorpus.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <utility>
#include <vector>

namespace {

using Kind = ClipCorpus::Kind;

// The same mutations on every run and machine: the engine's sequence is fixed by the standard.
struct Random {
    std::mt19937_64 next{20240517};
    int below(int n) { return n > 0 ? int(next() % uint64_t(n)) : 0; }
};

QByteArray mutate(const QByteArray &original, Random &random)
{
    QByteArray data = original;
    switch (random.below(4)) {
    case 0: // a few flipped bytes anywhere
        for (int i = 0, n = 1 + random.below(8); i < n; ++i)
            data[random.below(int(data.size()))] = char(random.next());
        break;
    case 1: // flips in the headers, where sizes and counts live
        for (int i = 0, n = 1 + random.below(4); i < n; ++i)
            data[random.below(std::min(int(data.size()), 1200))] = char(random.next());
        break;
    case 2: // cut short
        data.truncate(random.below(int(data.size())));
        break;
    default: // a damaged run of bytes and a cut
        for (int i = random.below(int(data.size())), n = 0; i < data.size() && n < 64; ++i, ++n)
            data[i] = char(random.next());
        data.truncate(data.size() - random.below(int(data.size()) / 4 + 1));
        break;
    }
    return data;
}

// Opens each mutated copy and asks for frames all over it: every outcome is acceptable
// (an error message, null frames, odd pictures) except a crash, a hang or, under
// AddressSanitizer, a bad memory access.
TEST(DecodeFuzz, MutatedFilesNeverCrash)
{
    const QList<Kind> kinds{Kind::Dib8, Kind::Rle8, Kind::MsVideo1, Kind::Cinepak, Kind::Mjpeg,
        Kind::Huffyuv, Kind::Mpeg4Packed, Kind::H264, Kind::NullFrames, Kind::WithAudio};
    QString error;
    std::vector<std::pair<QString, QString>> originals; // name, path
    for (Kind kind : kinds)
        originals.emplace_back(ClipCorpus::name(kind), ClipCorpus::file(kind, &error));
    // The other containers, whose packets the device reads for their times and, for VP9,
    // parses for the pictures they show.
    const QStringList source{"-f", "lavfi", "-i", "testsrc2=size=96x64:rate=25", "-f", "lavfi",
        "-i", "sine=frequency=440", "-frames:v", "40", "-shortest", "-g", "12"};
    const QStringList h264{"-c:v", "libx264", "-bf", "3", "-c:a", "aac"};
    for (const auto &[name, args] : {std::pair{"mp4", h264 + QStringList{"-f", "mp4"}},
             std::pair{"mkv", h264 + QStringList{"-f", "matroska"}},
             std::pair{"ts", h264 + QStringList{"-f", "mpegts"}},
             std::pair{"webm", QStringList{"-c:v", "libvpx-vp9", "-auto-alt-ref", "1",
                 "-lag-in-frames", "8", "-deadline", "realtime", "-c:a", "libopus", "-f",
                 "webm"}}}) {
        originals.emplace_back(QString::fromLatin1(name),
            ClipCorpus::generate(QStringLiteral("fuzz-%1").arg(name), source + args, &error));
    }
    const int perKind = 30;
    QTemporaryDir dir;
    Random random;
    int opened = 0;
    int refused = 0;
    for (const auto &[kindName, path] : originals) {
        ASSERT_FALSE(path.isEmpty()) << kindName.toStdString() << ": " << error.toStdString();
        const QByteArray original = ClipCorpus::readAll(path);
        for (int i = 0; i < perKind; ++i) {
            const QString name = dir.filePath(QStringLiteral("m%1.avi").arg(i));
            ASSERT_TRUE(ClipCorpus::writeAll(name, mutate(original, random)));
            SCOPED_TRACE((kindName + QStringLiteral(" #%1").arg(i)).toStdString());
            error.clear();
            auto source = video::openFrameSource(name, &error);
            if (!source) {
                EXPECT_FALSE(error.isEmpty());
                ++refused;
                continue;
            }
            ++opened;
            const int count = source->info().frameCount;
            EXPECT_GT(count, 0);
            EXPECT_LE(source->info().width, 16384);
            for (int p : {count / 2, count / 2 + 1, count / 2 - 1, count - 1, 0, count + 5, -3,
                     count / 3 + 10, count / 3}) {
                const QImage image = source->frameAt(p);
                if (!image.isNull()) {
                    EXPECT_EQ(image.width(), source->info().width);
                    EXPECT_EQ(image.height(), source->info().height);
                }
            }
        }
    }
    // Most mutations leave a playable file: the test must really exercise the decoder.
    EXPECT_GT(opened, refused);
    RecordProperty("opened", opened);
    RecordProperty("refused", refused);
}

} // namespace
