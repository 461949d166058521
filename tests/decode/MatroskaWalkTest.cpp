// The walk over a Matroska file's element headers must give the very index the demuxer's scan
// of every byte gives: a packet whose place, keyframe flag or time differs is a wrong frame.
// Each file is opened both ways; the walk may decline a file, never differ.

#include "platform/video/decode/MatroskaWalk.h"
#include "platform/video/decode/MediaFile.h"
#include "tests/decode/IndexBothWays.h"
#include "tests/support/ClipCorpus.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Opened {
    video::VideoInfo info;
    video::FrameIndex index;
    std::vector<std::pair<int64_t, int64_t>> seekPoints; // the demuxer's keyframe index after
    int walked = 0;
};

// The index as an open builds it, with the demuxer left as the scan leaves it.
Opened openAs(const QString &path, bool walk)
{
    Opened opened;
    bool built = false;
    indexes::withVideoSource(path, 0, [&](video::StreamIndex::Source &source) {
        source.rewind = [] { return false; };
        AVFormatContext *fc = source.context();
        const std::unique_ptr<video::StreamIndex> index =
            video::StreamIndex::forFormat(fc->iformat);
        video::MatroskaWalk::allowed = walk;
        built = index->build(source, opened.info, opened.index);
        video::MatroskaWalk::allowed = true;
        AVStream *st = source.videoStream();
        for (int i = 0; built && i < avformat_index_get_entries_count(st); ++i) {
            const AVIndexEntry *e = avformat_index_get_entry(st, i);
            opened.seekPoints.emplace_back(e->pos, e->timestamp);
        }
    });
    if (!built)
        return Opened{};
    opened.walked = video::MatroskaWalk::lastWalked;
    return opened;
}

// Where the two differ first, or empty.
std::string difference(const Opened &a, const Opened &b)
{
    const std::string index = indexes::difference(a.info, a.index, b.info, b.index);
    if (!index.empty())
        return index;
    return a.seekPoints != b.seekPoints ? "the demuxer's keyframe index" : "";
}

struct Case {
    const char *name;
    QStringList args; // ffmpeg's, after the source
    int frames = 150;
    bool walks = false; // long enough for the walk to take over from the demuxer
    std::function<void(QByteArray &)> damage = nullptr; // done to a copy of the file
    bool fromAvi = false; // `args` make an AVI, whose stream is copied with generated times
};

QStringList source(int frames)
{
    return {"-f", "lavfi", "-i", "testsrc2=s=96x64:r=25", "-frames:v", QString::number(frames),
        "-an"};
}

const QStringList kX264{"-c:v", "libx264", "-preset", "veryfast", "-g", "50"};

std::vector<Case> cases()
{
    return {
        {"h264_cues", kX264 + QStringList{"-bf", "3", "-f", "matroska"}},
        {"h264_live_no_cues", kX264 + QStringList{"-bf", "3", "-live", "1", "-f", "matroska"}},
        {"h264_orientation_sei",
            kX264 + QStringList{"-bf", "2", "-bsf:v",
                        "h264_metadata=display_orientation=insert:rotate=90", "-f", "matroska"}},
        {"h264_times_repeat_and_go_back",
            {"-c:v", "libx264", "-bf", "0", "-g", "25", "-sc_threshold", "0", "-preset",
                "veryfast", "-bsf:v",
                "setts=pts=if(eq(mod(N\\,25)\\,24)\\,PTS+60\\,"
                "if(eq(mod(N\\,25)\\,4)\\,PTS+40\\,PTS))",
                "-f", "matroska"},
            3000, true},
        {"vp9_hidden_frames",
            {"-c:v", "libvpx-vp9", "-g", "50", "-auto-alt-ref", "1", "-lag-in-frames", "16",
                "-deadline", "realtime", "-cpu-used", "8", "-f", "webm"}},
        {"h264_long_bframes", kX264 + QStringList{"-bf", "3", "-f", "matroska"}, 3000, true},
        // A pipe: a segment of unknown size, no cues, no duration.
        {"h264_long_pipe_no_bframes",
            {"-c:v", "libx264", "-preset", "ultrafast", "-g", "50", "-f", "matroska",
                "-write_crc32", "0", "-live", "1"},
            3000, true},
        // I pictures at the cuts within the shortest GOP, no IDR pictures: with one reference
        // frame the parser calls them keyframes, with more it does not.
        {"h264_cuts_one_reference",
            {"-vf", "negate=enable='gte(mod(n\\,20)\\,10)'", "-c:v", "libx264", "-preset",
                "veryfast", "-g", "50", "-bf", "0", "-x264-params",
                "ref=1:min-keyint=26:scenecut=40", "-f", "matroska"},
            1500, true},
        {"h264_cuts_bframes",
            {"-vf", "negate=enable='gte(mod(n\\,20)\\,10)'", "-c:v", "libx264", "-preset",
                "veryfast", "-g", "50", "-bf", "2", "-x264-params", "min-keyint=26:scenecut=40",
                "-f", "matroska"},
            1500, true},
        // Open GOPs: recovery points, which the walk leaves to the demuxer.
        {"h264_long_open_gop",
            kX264 + QStringList{"-bf", "2", "-x264-params", "open-gop=1:keyint=40:min-keyint=4",
                        "-f", "matroska"},
            3000},
        // Damage the walk comes upon after it took over: the demuxer's scan goes on.
        {"h264_cut_short", kX264 + QStringList{"-bf", "3", "-f", "matroska"}, 3000, false,
            [](QByteArray &file) { file.truncate(file.size() * 7 / 10); }},
        {"h264_cluster_id_damaged", kX264 + QStringList{"-bf", "3", "-f", "matroska"}, 3000,
            false,
            [](QByteArray &file) {
                const qsizetype at = file.indexOf("\x1f\x43\xb6\x75", file.size() / 2);
                if (at > 0)
                    file[at + 3] = '\x76';
            }},
        // Times that count the packets in decode order although the pictures are reordered.
        {"h264_times_in_decode_order",
            kX264 + QStringList{"-bf", "2", "-f", "avi"}, 3000, true, nullptr, true},
        // HEVC goes through a parser too, whose verdicts the walk does not read.
        {"hevc_long",
            {"-c:v", "libx265", "-preset", "ultrafast", "-g", "50", "-x265-params",
                "log-level=none", "-f", "matroska"},
            3000},
    };
}

TEST(MatroskaWalk, GivesTheDemuxersIndexOrDeclines)
{
    for (const Case &c : cases()) {
        QString error;
        QString path = ClipCorpus::generate(QStringLiteral("walk-") +
                QString::fromLatin1(c.name), source(c.frames) + c.args, &error);
        ASSERT_FALSE(path.isEmpty()) << c.name << ": " << error.toStdString();
        if (c.fromAvi) {
            path = ClipCorpus::generate(QStringLiteral("walk-copied-") +
                    QString::fromLatin1(c.name),
                {"-fflags", "+genpts", "-i", path, "-map", "0:v", "-c", "copy", "-f",
                    "matroska"},
                &error);
            ASSERT_FALSE(path.isEmpty()) << c.name << ": " << error.toStdString();
        }
        if (c.damage) {
            QByteArray bytes = ClipCorpus::readAll(path);
            c.damage(bytes);
            path += QStringLiteral(".damaged.mkv");
            ASSERT_TRUE(ClipCorpus::writeAll(path, bytes)) << c.name;
        }
        const Opened scanned = openAs(path, false);
        const Opened walked = openAs(path, true);
        ASSERT_GT(scanned.info.frameCount, 0) << c.name;
        EXPECT_EQ(difference(scanned, walked), "") << c.name;
        // The long ones are there for the walk: most of their packets come from it.
        if (c.walks) {
            EXPECT_GT(walked.walked, walked.index.packetCount() / 2) << c.name;
        }
        std::printf("%-32s %5d packets, %5d walked\n", c.name, walked.index.packetCount(),
            walked.walked);
    }
}

// Files from other programs, where the checkout has them beside it: each the same both ways.
TEST(MatroskaWalk, RealFilesTheSameBothWays)
{
    const QByteArray fromEnv = qgetenv("KURIMO_REAL_MEDIA");
    const QString dir =
        QString::fromLocal8Bit(fromEnv.isEmpty() ? KURIMO_REAL_MEDIA_DIR : fromEnv.constData());
    QStringList files;
    for (const char *folder : {"real-containers", "real-broadcast"}) {
        const QDir d(dir + QLatin1Char('/') + QLatin1String(folder));
        for (const QString &name : d.entryList({"*.mkv", "*.webm"}, QDir::Files, QDir::Name))
            files << d.filePath(name);
    }
    if (files.isEmpty())
        GTEST_SKIP() << "no real files beside the checkout";
    // The one of them long enough in clusters of known size for the walk to take over; the
    // rest are VP8, VP9 or AV1, a single cluster, cut short or written live with clusters of
    // unknown size.
    const QString taken = QStringLiteral("horstepipe__testfiles__sample.mkv");
    for (const QString &path : files) {
        const Opened scanned = openAs(path, false);
        const Opened walked = openAs(path, true);
        EXPECT_EQ(difference(scanned, walked), "") << path.toStdString();
        if (path.endsWith(taken)) {
            EXPECT_GT(walked.walked, 0);
        }
        std::printf("%-60s %5d packets, %5d walked\n",
            qPrintable(QDir(path).dirName().left(60)), walked.index.packetCount(),
            walked.walked);
    }
}

} // namespace
