// A transport stream's index read from its packets is the one the demuxer's scan gives, or
// none: every generated transport stream shape and every real one at hand, each video stream
// indexed both ways. A packet too many or a keyframe flag of its own is a wrong picture.

#include "platform/video/decode/MappedRead.h"
#include "platform/video/decode/TimestampIndex.h"
#include "platform/video/decode/TsScan.h"
#include "tests/decode/IndexBothWays.h"
#include "tests/support/ClipCorpus.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>

namespace {

using video::FrameIndex;
using video::VideoInfo;

struct Built {
    bool ok = false;
    VideoInfo info;
    FrameIndex index;
};

Built build(const QString &path, int video, bool fast)
{
    Built built;
    video::setTsScanAllowed(fast);
    indexes::withVideoSource(path, video, [&](const video::StreamIndex::Source &source) {
        video::TimestampIndex index(source.context()->iformat);
        built.ok = index.build(source, built.info, built.index);
    });
    video::setTsScanAllowed(true);
    return built;
}

// Whether the packets' own scan takes the stream; false when there is none.
bool taken(const QString &path, int video, bool *exists)
{
    bool took = false;
    *exists = indexes::withVideoSource(path, video, [&](const video::StreamIndex::Source &source) {
        took = video::scanTransportStream(source).has_value();
    });
    return took;
}

// Every video stream of the file: the same index both ways where the fast scan takes it;
// in *took how many streams it took.
void compareBothWays(const QString &path, int *took)
{
    *took = 0;
    bool exists = true;
    for (int video = 0;; ++video) {
        const bool fast = taken(path, video, &exists);
        if (!exists)
            break;
        *took += fast ? 1 : 0;
        if (!fast)
            continue;
        SCOPED_TRACE(QStringLiteral("%1, video stream %2").arg(path).arg(video).toStdString());
        const Built a = build(path, video, true);
        const Built b = build(path, video, false);
        ASSERT_TRUE(a.ok && b.ok);
        EXPECT_EQ(indexes::difference(a.info, a.index, b.info, b.index), "");
    }
}

// A copy of `source` with `patch` applied, made once beside it.
QString variant(const QString &source, const char *suffix,
    const std::function<bool(QByteArray &)> &patch)
{
    if (source.isEmpty())
        return {};
    const QString path = source.chopped(4) + QLatin1String(suffix) + QStringLiteral(".ts");
    if (QFileInfo(path).size() > 0)
        return path;
    QByteArray data = ClipCorpus::readAll(source);
    return !data.isEmpty() && patch(data) && ClipCorpus::writeAll(path, data) ? path : QString();
}

// Where each PES of the video PID (0x100, as ffmpeg writes it) starts.
std::vector<qsizetype> videoPesStarts(const QByteArray &data)
{
    std::vector<qsizetype> starts;
    for (qsizetype at = 0; at + 188 <= data.size(); at += 188) {
        const auto *p = reinterpret_cast<const uchar *>(data.constData() + at);
        if (p[0] == 0x47 && (p[1] & 0x40) && ((p[1] & 0x1f) << 8 | p[2]) == 0x100)
            starts.push_back(at);
    }
    return starts;
}

// Where the PES header is in the transport packet at `at`.
qsizetype pesAt(const QByteArray &data, qsizetype at)
{
    return at + ((data[at + 3] & 0x20) ? 5 + uchar(data[at + 4]) : 4);
}

// The last transport packet of the video PES starting at `start`, the next one at `next`.
qsizetype lastPacketOf(const QByteArray &data, qsizetype next)
{
    qsizetype at = next - 188;
    while (at > 0 && ((uchar(data[at + 1]) & 0x1f) << 8 | uchar(data[at + 2])) != 0x100)
        at -= 188;
    return at;
}

// Every tenth PES of the video changed by `patch`(data, its start, the next PES's start).
std::function<bool(QByteArray &)> everyTenthPes(
    const std::function<void(QByteArray &, qsizetype, qsizetype)> &patch)
{
    return [=](QByteArray &data) {
        const std::vector<qsizetype> starts = videoPesStarts(data);
        for (size_t i = 5; i + 1 < starts.size(); i += 10)
            patch(data, starts[i], starts[i + 1]);
        return starts.size() > 20;
    };
}

QString made(const char *name, const QStringList &args)
{
    const QStringList source{"-f", "lavfi", "-i", "testsrc2=s=320x240:r=25:d=6"};
    return ClipCorpus::generate(QString::fromLatin1(name), source + args + QStringList{"-f",
        "mpegts"});
}

const QStringList kBFrames{"-c:v", "libx264", "-bf", "3", "-g", "50", "-preset", "veryfast"};

struct Shape {
    const char *name;
    std::function<QString()> make;
    int taken; // video streams the fast scan takes
};

std::vector<Shape> shapes()
{
    const auto bFrames = [] { return made("tsscan-bframes", kBFrames); };
    return {
        {"b_frames", bFrames, 1},
        // As a long recording from a fast encoder: no B-pictures, PES times alone.
        {"no_b_frames",
            [] {
                return made("tsscan-no-bframes", {"-c:v", "libx264", "-preset", "ultrafast",
                                                     "-crf", "38", "-g", "50"});
            },
            1},
        // Open GOPs: I-pictures that are no IDR, keyframes by their recovery point SEI.
        {"recovery_points",
            [] {
                return made("tsscan-open-gop", kBFrames + QStringList{"-x264-params",
                                                               "open-gop=1:scenecut=0"});
            },
            1},
        // Cut mid-GOP: no parameter sets before the first pictures.
        {"cut_mid_gop",
            [&] {
                return variant(bFrames(), "-cut", [](QByteArray &data) {
                    data.remove(0, data.size() / 6 / 188 * 188);
                    return true;
                });
            },
            1},
        // Each video PES says it is longer than it is: the demuxer's packets are not the PES.
        {"damaged_pes_lengths",
            [&] {
                return variant(bFrames(), "-pes-lengths", [](QByteArray &data) {
                    for (const qsizetype at : videoPesStarts(data)) {
                        data[pesAt(data, at) + 4] = char(0xff);
                        data[pesAt(data, at) + 5] = char(0xff);
                    }
                    return true;
                });
            },
            0},
        // Two pictures in one PES every ten (the start of the second no longer marked): the
        // parser cuts them apart, so the PES is not a packet.
        {"two_pictures_in_a_pes",
            [&] {
                return variant(bFrames(), "-joined", [](QByteArray &data) {
                    const std::vector<qsizetype> starts = videoPesStarts(data);
                    for (size_t i = 5; i < starts.size(); i += 10)
                        data[starts[i] + 1] = char(data[starts[i] + 1] & ~0x40);
                    return starts.size() > 20;
                });
            },
            0},
        // An SEI after the last slice of a PES: the parser cuts before it, a packet of its own.
        {"sei_after_the_slices",
            [&] {
                return variant(bFrames(), "-late-sei",
                    everyTenthPes([](QByteArray &data, qsizetype, qsizetype next) {
                        data.replace(lastPacketOf(data, next) + 182, 6, "\0\0\1\6\5\x80", 6);
                    }));
            },
            0},
        // A PES whose last byte is a zero before one that starts with a three-byte start
        // code: the parser's cut takes that zero with the next picture.
        {"zero_before_a_short_start_code",
            [&] {
                return variant(bFrames(), "-short-start",
                    everyTenthPes([](QByteArray &data, qsizetype start, qsizetype) {
                        data[lastPacketOf(data, start) + 187] = 0;
                        const qsizetype pes = pesAt(data, start);
                        data.replace(pes + 9 + uchar(data[pes + 8]), 6, "\0\0\1\x09\xf0\0", 6);
                    }));
            },
            0},
        // A transport packet of the video lost: the continuity counter jumps.
        {"lost_packet",
            [&] {
                return variant(bFrames(), "-lost", [](QByteArray &data) {
                    const std::vector<qsizetype> starts = videoPesStarts(data);
                    if (starts.size() < 40)
                        return false;
                    data.remove(starts[37] + 188, 188);
                    return true;
                });
            },
            0},
        // Field pictures, each a PES of its own.
        {"interlaced",
            [] {
                return made("tsscan-fields", {"-vf", "tinterlace=interleave_top", "-c:v",
                                                 "libx264", "-flags", "+ildct+ilme", "-g",
                                                 "50", "-preset", "veryfast"});
            },
            0},
        // Pictures larger than the demuxer hands over in one packet: the parser joins its
        // pieces again.
        {"large_pictures",
            [] {
                return ClipCorpus::generate(QStringLiteral("tsscan-large"),
                    {"-f", "lavfi", "-i", "testsrc2=s=640x480:r=25:d=2,noise=alls=100:allf=t",
                        "-c:v", "libx264", "-qp", "0", "-g", "5", "-preset", "ultrafast", "-f",
                        "mpegts"});
            },
            1},
        // 192-byte packets, a time before each (Blu-ray, AVCHD).
        {"m2ts",
            [] { return made("tsscan-m2ts", kBFrames + QStringList{"-mpegts_m2ts_mode", "1"}); },
            1},
        // Two programmes, each a video stream.
        {"two_programmes",
            [] {
                return ClipCorpus::generate(QStringLiteral("tsscan-programmes"),
                    {"-f", "lavfi", "-i", "testsrc2=s=320x240:r=50:d=3", "-f", "lavfi", "-i",
                        "testsrc2=s=320x240:r=25:d=6", "-map", "1:v", "-map", "0:v", "-c:v",
                        "libx264", "-preset", "veryfast", "-program", "title=first:st=0",
                        "-program", "title=second:st=1", "-f", "mpegts"});
            },
            2},
    };
}

class GeneratedShape : public testing::TestWithParam<Shape> {};

TEST_P(GeneratedShape, SameIndexOrDeclined)
{
    const QString path = GetParam().make();
    if (path.isEmpty())
        GTEST_SKIP() << "ffmpeg could not make it";
    int took = 0;
    compareBothWays(path, &took);
    EXPECT_EQ(took, GetParam().taken);
}

INSTANTIATE_TEST_SUITE_P(Shapes, GeneratedShape, testing::ValuesIn(shapes()),
    [](const auto &info) { return std::string(info.param.name); });

// The real transport streams at hand: taken or declined, never a different index.
TEST(RealTransportStreams, SameIndexOrDeclined)
{
    const QByteArray fromEnv = qgetenv("KURIMO_REAL_MEDIA");
    const QString media =
        QString::fromLocal8Bit(fromEnv.isEmpty() ? KURIMO_REAL_MEDIA_DIR : fromEnv.constData());
    int files = 0;
    for (const char *folder : {"real-broadcast", "real-containers"}) {
        const QDir dir(media + QLatin1Char('/') + QLatin1String(folder));
        for (const QString &name :
            dir.entryList({"*.ts", "*.mts", "*.m2ts"}, QDir::Files, QDir::Name)) {
            int took = 0;
            compareBothWays(dir.filePath(name), &took);
            std::printf("%s/%s: %s\n", folder, qPrintable(name), took ? "taken" : "declined");
            ++files;
        }
    }
    if (files == 0)
        GTEST_SKIP() << "no real transport streams beside the checkout";
}

// A recording cut shorter while the scan reads it through the map: the read ends, the
// program goes on, and the next read of a mapping that holds works again.
TEST(MappedRead, AFileCutShorterUnderTheReadEndsOnlyTheRead)
{
    QTemporaryFile file;
    ASSERT_TRUE(file.open());
    const long page = ::sysconf(_SC_PAGESIZE);
    ASSERT_TRUE(file.write(QByteArray(int(4 * page), '\x47')) == 4 * page && file.flush());
    void *map = ::mmap(nullptr, size_t(4 * page), PROT_READ, MAP_SHARED, file.handle(), 0);
    ASSERT_NE(map, MAP_FAILED);
    const auto *bytes = static_cast<const volatile unsigned char *>(map);
    int sum = 0;
    auto readAll = [&] {
        for (long i = 0; i < 4 * page; i += 64)
            sum += bytes[i];
    };
    EXPECT_TRUE(video::readMapped(map, size_t(4 * page), readAll));
    EXPECT_EQ(sum, 0x47 * 4 * page / 64);
    ASSERT_EQ(::ftruncate(file.handle(), page), 0);
    sum = 0;
    EXPECT_FALSE(video::readMapped(map, size_t(4 * page), readAll));
    EXPECT_EQ(sum, 0x47 * page / 64); // up to the new end
    sum = 0;
    EXPECT_FALSE(video::readMapped(map, size_t(4 * page), readAll));
    EXPECT_TRUE(video::readMapped(map, size_t(page), [&] { sum = bytes[page - 1]; }));
    EXPECT_EQ(sum, 0x47);
    ::munmap(map, size_t(4 * page));
}

} // namespace
