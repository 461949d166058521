#include "platform/video/FrameSource.h"
#include "platform/video/device/Messages.h"
#include "platform/video/device/Opening.h"
#include "platform/video/audio/AudioDecoder.h"
#include "tests/decode/ReferenceDecode.h"
#include "tests/support/ClipCorpus.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using Kind = ClipCorpus::Kind;
using video::audio::AudioDecoder;

constexpr auto readAll = &ClipCorpus::readAll;
constexpr auto writeAll = &ClipCorpus::writeAll;

bool sameImage(const QImage &a, const QImage &b)
{
    return !a.isNull() && a.convertToFormat(QImage::Format_RGB32) ==
        b.convertToFormat(QImage::Format_RGB32);
}

class BadInput : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString at(const QString &name) const { return dir.filePath(name); }
};

// What is not a video, or has nothing to show or to hear, is refused with a message by the
// frame source and by the sound decoder, never a crash.
TEST_F(BadInput, RefusesWhatIsNotAVideoWithAJapaneseMessage)
{
    QString error;
    const auto made = [&](const QString &name, const QStringList &args) {
        const QString path = ClipCorpus::generate(name, args, &error);
        EXPECT_FALSE(path.isEmpty()) << error.toStdString();
        return path;
    };
    const auto written = [&](const QString &name, const QByteArray &data) {
        EXPECT_TRUE(writeAll(at(name), data));
        return at(name);
    };
    const QStringList sine{"-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-c:a"};
    const QStringList picture{"-f", "lavfi", "-i", "testsrc2=size=64x48:rate=25"};
    // An MP4 cut off before its index box (written last) has nothing to go by.
    const QByteArray mp4 = readAll(made("whole-mp4", picture + QStringList{"-frames:v", "25",
        "-c:v", "mjpeg", "-f", "mp4"}));
    ClipCorpus::RawAvi wide;
    wide.width = 20000;
    wide.height = 2;
    wide.chunks.push_back({QByteArray(20000 * 3 * 2, '\x10'), true, {}});
    ASSERT_TRUE(ClipCorpus::writeAvi(at("wide.avi"), wide));
    // Sizes the demuxer refuses, which it reports as 0×0: the header's own claim is told.
    const auto claiming = [&](const char *name, int32_t width, int32_t height) {
        QByteArray data = readAll(at("wide.avi"));
        const qsizetype strf = data.indexOf("strf");
        for (int i = 0; i < 4; ++i) {
            data[strf + 12 + i] = char((uint32_t(width) >> (8 * i)) & 0xff);
            data[strf + 16 + i] = char((uint32_t(height) >> (8 * i)) & 0xff);
        }
        return written(name, data);
    };
    const QString fifo = at("fifo.avi");
    EXPECT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_TRUE(QFile::link(at("loop-b.avi"), at("loop-a.avi")));
    EXPECT_TRUE(QFile::link(at("loop-a.avi"), at("loop-b.avi")));
    const char *notAFile = "通常のファイルではありません";
    const QByteArray garbage(5000, '\x5a');
    const char *text = "動画ファイルとして読めません";
    const char *noPicture = "映像が入っていません";
    const struct {
        QString path;
        const char *picture; // the frame source's reason; empty: any, null: it opens
        const char *sound;   // the sound decoder's, alike
    } cases[] = {
        {at("missing.avi"), "ファイルが見つかりません", "ファイルを開けません"},
        {written("empty.avi", {}), "ファイルが空です", ""},
        {written("text.avi", "This is not a video, only text.\n"), text, ""},
        {written("text.mp4", "This is not a video, only text.\n"), text, ""},
        {made("soundonly-avi", sine + QStringList{"pcm_s16le", "-f", "avi"}), noPicture, nullptr},
        // .m4a: MP4 as iTunes writes it.
        {made("soundonly-ipod", sine + QStringList{"aac", "-f", "ipod"}), noPicture, nullptr},
        {made("silent", picture + QStringList{"-t", "2", "-c:v", "mjpeg"}), nullptr,
            "音声がありません"},
        // A container of its own after the last input: a WAV, whatever its name.
        {made("sine-wav", sine + QStringList{"pcm_s16le", "-f", "wav"}), nullptr,
            "動画ファイルではありません"},
        {at("wide.avi"), "映像の大きさを扱えません（20000×2）", ""},
        {claiming("square.avi", 65535, 65535), "映像の大きさを扱えません（65535×65535）", ""},
        {claiming("negative.avi", -64, 48), "映像の大きさを扱えません（-64×48）", ""},
        // Found, but no file: the sound decoder is never asked (a pipe would hold it).
        {fifo, notAFile, nullptr},
        {"/dev/zero", notAFile, nullptr},
        {dir.path(), "フォルダです", nullptr},
        {at("loop-a.avi"), "リンクが循環しています", nullptr},
        {written("garbage.avi", garbage), "", ""},
        {written("header-only.avi", QByteArray("RIFF\x10\0\0\0AVI LIST", 16) + garbage), "", ""},
        {written("cut.mp4", mp4.left(mp4.lastIndexOf("moov") - 4)), "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path.toStdString());
        for (const bool sound : {false, true}) {
            const char *reason = sound ? c.sound : c.picture;
            if (!reason)
                continue;
            video::OpenError why;
            EXPECT_FALSE(sound ? bool(AudioDecoder::open(c.path, &why))
                               : bool(video::openFrameSource(c.path, &why))) << sound;
            error = video::messages::openFailure(why);
            EXPECT_TRUE(*reason ? error == QString::fromUtf8(reason) : !error.isEmpty())
                << error.toStdString();
        }
    }
}

// With every descriptor taken, the open says so rather than calling the file unreadable.
TEST_F(BadInput, NoDescriptorLeftIsSaid)
{
    QString error;
    const QString clip = ClipCorpus::file(Kind::Dib24, &error);
    ASSERT_FALSE(clip.isEmpty()) << error.toStdString();
    rlimit before{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &before), 0);
    rlimit fewer = before;
    fewer.rlim_cur = std::min<rlim_t>(before.rlim_cur, 256);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &fewer), 0);
    std::vector<int> taken;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        taken.push_back(fd);
    error.clear();
    const bool opened = bool(video::openFrameSource(clip, &error));
    for (const int fd : taken)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &before);
    EXPECT_FALSE(opened);
    EXPECT_EQ(error, QStringLiteral("開いているファイルが多すぎます"));
}

// A file without its index, or with an entry pointing past the end, is opened by scanning
// its packets. The keyframes the scan finds are starts: a seek near the end does not decode
// the whole file from its start. Without an index the demuxer calls every RLE8 chunk a
// keyframe: there only the first is a start.
TEST_F(BadInput, MissingOrDamagedIndexIsReplacedByAScan)
{
    for (const auto &[kind, strip, starts] : {std::tuple{Kind::H264, true, true},
             {Kind::Dib8, true, true}, {Kind::Rle8, true, false}, {Kind::Mpeg4Packed, true, true},
             {Kind::Mjpeg, false, true}}) {
        SCOPED_TRACE(ClipCorpus::name(kind).toStdString());
        const QString original = ClipCorpus::file(kind);
        QByteArray bytes = readAll(original);
        const int idx1 = int(bytes.lastIndexOf("idx1"));
        ASSERT_GT(idx1, 0);
        if (strip)
            bytes.replace(idx1, 4, "JUNK");
        else
            bytes[idx1 + 8 + 2 * 16 + 8 + 3] = '\x7f'; // the third entry's offset
        const QString changed = at(ClipCorpus::name(kind) + "-index.avi");
        ASSERT_TRUE(writeAll(changed, bytes));

        QString error;
        auto source = video::openFrameSource(changed, &error);
        ASSERT_TRUE(source) << error.toStdString();
        const ReferenceDecode whole = referenceDecode(original);
        const int count = source->info().frameCount;
        EXPECT_GE(count, int(whole.framesByPosition.size()) - (strip ? 2 : 0));
        EXPECT_LE(count, int(whole.framesByPosition.size()));
        for (int p : {count - 1, count / 2, 5, 0}) {
            EXPECT_TRUE(sameImage(source->frameAt(p), whole.framesByPosition[size_t(p)])) << p;
        }
        auto fresh = video::openFrameSource(changed, &error);
        ASSERT_TRUE(fresh) << error.toStdString();
        EXPECT_TRUE(
            sameImage(fresh->frameAt(count - 1), whole.framesByPosition[size_t(count - 1)]));
        EXPECT_LE(fresh->stats().framesDecoded,
            starts ? std::max(1, count - ClipCorpus::spec(kind).keyframeInterval / 2 - 1) : count);
    }
}

TEST_F(BadInput, FileChangedOrDeletedWhileOpenGivesNullFrames)
{
    const QString original = ClipCorpus::file(Kind::Mjpeg);
    ASSERT_TRUE(QFile::copy(original, at("changing.avi")));
    ASSERT_TRUE(QFile::copy(original, at("deleted.avi")));
    QString error;
    auto changing = video::openFrameSource(at("changing.avi"), &error);
    auto deleted = video::openFrameSource(at("deleted.avi"), &error);
    ASSERT_TRUE(changing && deleted);
    EXPECT_FALSE(changing->frameAt(3).isNull());
    EXPECT_FALSE(deleted->frameAt(3).isNull());

    ASSERT_TRUE(writeAll(at("changing.avi"), QByteArray("RIFF") + QByteArray(3000, '\0')));
    ASSERT_TRUE(QFile::remove(at("deleted.avi")));
    EXPECT_TRUE(changing->frameAt(40).isNull());
    EXPECT_TRUE(deleted->frameAt(40).isNull());
    // Frames already decoded stay available; nothing crashes either way.
    EXPECT_FALSE(changing->frameAt(3).isNull());
}

} // namespace
