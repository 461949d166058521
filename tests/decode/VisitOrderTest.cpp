// Every position shows its own picture whatever was visited before: files whose pictures
// carry their frame number, visited in three orders, each on a fresh open.

#include "platform/video/FrameSource.h"
#include "tests/support/AviCorpus.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTransform>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>

namespace {

constexpr int kBits = 16;      // cells across the band; the number uses the low 12
constexpr int kNumberBits = 12;

// testsrc2 under a band of 16 cells, cell k white when bit k of the frame number is set.
// The band survives any codec's quantisation; the picture below gives the encoder work.
QStringList numberedSource(int width, int height, int frames)
{
    const int band = std::max(16, height / 10);
    const QString graph = QStringLiteral(
        "nullsrc=s=16x2:r=25,format=gray,"
        "geq=lum='if(bitand(floor(N/pow(2\\,X))\\,1)\\,235\\,16)',"
        "scale=%1:%2:flags=neighbor,format=yuv420p[b];"
        "testsrc2=s=%1x%3:r=25[t];[b][t]vstack")
                              .arg(width)
                              .arg(band)
                              .arg(height - band);
    return {"-f", "lavfi", "-i", graph, "-frames:v", QString::number(frames), "-an"};
}

// The number the picture carries, or -1 when its band is not one (a wrong or broken picture).
int numberOf(const QImage &image)
{
    if (image.isNull())
        return -1;
    const int y = std::max(16, image.height() / 10) / 2;
    int n = 0;
    for (int bit = 0; bit < kBits; ++bit) {
        const int x = (2 * bit + 1) * image.width() / (2 * kBits);
        const int level = qGreen(image.pixel(x, y));
        if (level > 96 && level < 160)
            return -1;
        if (level >= 160)
            n |= 1 << bit;
    }
    return n < (1 << kNumberBits) ? n : -1;
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Writes `data` as a variant of `source`, once.
QString variant(const QString &source, const QString &suffix,
    const std::function<bool(QByteArray &)> &patch)
{
    if (source.isEmpty())
        return {};
    const QString path = source.chopped(4) + suffix + QStringLiteral(".avi");
    if (QFileInfo(path).size() > 0)
        return path;
    QByteArray data = readAll(source);
    if (data.isEmpty() || !patch(data))
        return {};
    const QString tmp = path + QStringLiteral(".%1.tmp").arg(QCoreApplication::applicationPid());
    QFile f(tmp);
    if (!f.open(QIODevice::WriteOnly) || f.write(data) != data.size())
        return {};
    f.close();
    QFile::rename(tmp, path);
    QFile::remove(tmp);
    return path;
}

void put32(QByteArray &data, qsizetype at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = char((v >> (8 * i)) & 0xff);
}

// What a capture program leaves when it dies: no idx1, no frame counts and RIFF and movi
// sizes never written (0) or left at a streaming writer's placeholder; `cut` more bytes off
// the end leave the last chunk unfinished.
bool unfinish(QByteArray &data, uint32_t size, int cut)
{
    const qsizetype idx1 = data.lastIndexOf("idx1");
    const qsizetype movi = data.indexOf("movi");
    const qsizetype avih = data.indexOf("avih");
    const qsizetype strh = data.indexOf("strh");
    if (idx1 < 0 || movi < 4 || avih < 0 || strh < 0)
        return false;
    data.truncate(idx1 - cut);
    put32(data, 4, size);
    put32(data, movi - 4, size);
    put32(data, avih + 8 + 16, 0); // dwTotalFrames
    put32(data, strh + 8 + 32, 0); // dwLength
    return true;
}

// Rewrites every MPEG-4 VOL header as DivX 5 writes it: without vol_control_parameters,
// which leaves the low-delay flag to its default (set) although the stream has B-frames.
bool dropVolControl(QByteArray &data)
{
    int rewritten = 0;
    for (qsizetype at = data.indexOf(QByteArray("\0\0\x01", 3)); at >= 0;
         at = data.indexOf(QByteArray("\0\0\x01", 3), at + 3)) {
        if (at + 4 >= data.size() || (uchar(data[at + 3]) & 0xf0) != 0x20)
            continue;
        const qsizetype end = std::max<qsizetype>(
            data.indexOf(QByteArray("\0\0\x01", 3), at + 4), at + 4);
        std::vector<int> bits;
        for (qsizetype i = at + 4; i < end; ++i) {
            for (int b = 7; b >= 0; --b)
                bits.push_back((uchar(data[i]) >> b) & 1);
        }
        size_t pos = 1 + 8; // random_accessible_vol, video_object_type_indication
        if (bits.size() < 40)
            return false;
        if (bits[pos++])
            pos += 7; // verid, priority
        int aspect = 0;
        for (int i = 0; i < 4; ++i)
            aspect = aspect * 2 + bits[pos++];
        if (aspect == 15)
            pos += 16;
        // vol_control 1, chroma format 2 bits, low_delay, vbv_parameters 0
        if (!bits[pos] || bits[pos + 4])
            return false;
        size_t payload = bits.size();
        while (payload > 0 && bits[payload - 1] == 1)
            --payload;
        --payload; // the stuffing's leading 0
        std::vector<int> out(bits.begin(), bits.begin() + qsizetype(pos));
        out.push_back(0);
        out.insert(out.end(), bits.begin() + qsizetype(pos + 5), bits.begin() + qsizetype(payload));
        out.push_back(0);
        while (out.size() % 8)
            out.push_back(1);
        QByteArray bytes;
        for (size_t i = 0; i < out.size(); i += 8) {
            int v = 0;
            for (int b = 0; b < 8; ++b)
                v = v * 2 + out[i + size_t(b)];
            bytes.append(char(v));
        }
        // Zero bytes before a start code are allowed and keep every chunk its size.
        bytes.append(QByteArray(int(end - at - 4) - bytes.size(), '\0'));
        data.replace(at + 4, end - at - 4, bytes);
        ++rewritten;
    }
    return rewritten > 0;
}

// A hand-made uncompressed file whose last chunks (and one in the middle) are empty: null
// frames, which repeat the picture before them.
QString withTrailingNullFrames(QString *error)
{
    const QString path = AviCorpus::dataDir() + QStringLiteral("/trailing-nulls-v1.avi");
    if (QFileInfo(path).size() > 0)
        return path;
    AviCorpus::RawAvi avi;
    avi.width = 64;
    avi.height = 48;
    for (int n = 0; n < 40; ++n) {
        AviCorpus::Chunk chunk;
        chunk.keyframe = true;
        if (n != 20 && n < 37) {
            chunk.data = QByteArray(64 * 48 * 3, '\0');
            for (int y = 0; y < 48; ++y) {
                for (int x = 0; x < 64; ++x) {
                    const bool band = y >= 48 - 16; // rows are stored bottom-up
                    const bool on = band && ((n >> (x * kBits / 64)) & 1);
                    const char level = char(on ? 235 : band ? 16 : (x + y + n) & 0x7f);
                    chunk.data[(y * 64 + x) * 3 + 0] = level;
                    chunk.data[(y * 64 + x) * 3 + 1] = level;
                    chunk.data[(y * 64 + x) * 3 + 2] = level;
                }
            }
        }
        avi.chunks.push_back(chunk);
    }
    QDir().mkpath(AviCorpus::dataDir());
    const QString tmp = path + QStringLiteral(".%1.tmp").arg(QCoreApplication::applicationPid());
    if (!AviCorpus::writeAvi(tmp, avi) || !QFile::rename(tmp, path)) {
        QFile::remove(tmp);
        if (error)
            *error = QStringLiteral("cannot write %1").arg(path);
        return {};
    }
    return path;
}

QString longGop(const QString &name, int width, int height, QString *error)
{
    // Keyframes 50 apart with two B-frames: the keyframe chunks land at 0, 49, 97 and 145,
    // the last one shown last, after the two B-frames that need the GOP before.
    return AviCorpus::generate(name,
        numberedSource(width, height, 148) +
            QStringList{"-c:v", "mpeg4", "-vtag", "XVID", "-bf", "2", "-g", "50", "-q:v", "4"},
        error);
}

QString packedLowDelay(QString *error)
{
    const QString packed = AviCorpus::generate(QStringLiteral("packed-far-keys"),
        numberedSource(320, 240, 160) +
            QStringList{"-c:v", "libxvid", "-bf", "2", "-g", "80", "-q:v", "4"},
        error);
    return variant(packed, QStringLiteral("-divx5"), dropVolControl);
}

QString unfinishedRecording(uint32_t size, int cut, QString *error)
{
    const QString whole = AviCorpus::generate(QStringLiteral("recording"),
        numberedSource(320, 240, 120) +
            QStringList{"-c:v", "mpeg4", "-bf", "2", "-g", "50", "-q:v", "4"},
        error);
    return variant(whole, QStringLiteral("-unfinished-%1-%2").arg(size, 0, 16).arg(cut),
        [&](QByteArray &data) { return unfinish(data, size, cut); });
}

// Any container: `args` after the numbered source, `-f` among them.
QString container(const QString &name, int frames, const QStringList &args, QString *error)
{
    return AviCorpus::generate(name, numberedSource(320, 240, frames) + args, error);
}

// A copy from 1.3 s on without re-encoding: an MP4 edit list whose first packets, from the
// keyframe before the cut, are decoded but never shown.
QString cutWithEditList(QString *error)
{
    const QString whole = container(QStringLiteral("cut-source"), 150,
        {"-c:v", "libx264", "-bf", "3", "-g", "50", "-preset", "veryfast", "-f", "mp4"}, error);
    if (whole.isEmpty())
        return {};
    return AviCorpus::generate(QStringLiteral("cut-edit-list"),
        {"-ss", "1.3", "-i", whole, "-c", "copy", "-f", "mp4"}, error);
}

// Every 7th picture left out (n = 3, 10, 17 ...) and the rest kept at their times: a
// variable frame rate, as a phone records in poor light.
int keptNumber(int p) { return p + (p + 3) / 6; }

struct Shape {
    const char *name;
    std::function<QString(QString *)> make;
    int length;
    // The number shown at each position when the file says it plainly; otherwise the
    // numbers a fresh step-by-step walk shows are the yardstick, and with `consecutive`
    // they must go up by one from position to position.
    std::function<int(int)> numberAt;
    bool consecutive = false;
    int clockwise = 0; // how far the file says to turn its pictures to show them upright
};

std::ostream &operator<<(std::ostream &out, const Shape &shape) { return out << shape.name; }

int positionIsNumber(int p) { return p; }

const QStringList kH264{"-c:v", "libx264", "-bf", "3", "-g", "50", "-preset", "veryfast"};
const QStringList mp4{"-f", "mp4"};

// 150 numbered pictures at 320x240, encoded and wrapped as `args` say.
std::function<QString(QString *)> made(const char *name, const QStringList &args)
{
    return [=](QString *e) { return container(QString::fromLatin1(name), 150, args, e); };
}

// The display matrix goes in as a copy, as a phone writes it beside the stream.
QString rotated(QString *error)
{
    const QString upright = container(QStringLiteral("unrotated-mp4"), 60,
        {"-c:v", "libx264", "-bf", "2", "-g", "30", "-preset", "veryfast", "-f", "mp4"}, error);
    return upright.isEmpty() ? QString()
        : AviCorpus::generate(QStringLiteral("rotated-mp4"),
              {"-i", upright, "-c", "copy", "-metadata:s:v:0", "rotate=90", "-f", "mp4"}, error);
}

const Shape kShapes[] = {
    {"long GOP, keyframe just before the end, frame threads",
        [](QString *e) { return longGop(QStringLiteral("long-gop-800"), 800, 600, e); }, 148,
        positionIsNumber},
    {"long GOP, keyframe just before the end, one thread",
        [](QString *e) { return longGop(QStringLiteral("long-gop-320"), 320, 240, e); }, 148,
        positionIsNumber},
    {"packed B-frames marked low-delay, keyframes far apart", packedLowDelay, 160, nullptr},
    {"trailing null frames", withTrailingNullFrames, 40,
        [](int p) { return p == 20 ? 19 : std::min(p, 36); }},
    {"unfinished recording, sizes 0",
        [](QString *e) { return unfinishedRecording(0, 0, e); }, 120, positionIsNumber},
    {"unfinished recording, placeholder sizes, last chunk cut",
        [](QString *e) { return unfinishedRecording(0xffffffffu, 100, e); }, 119, nullptr},
    {"MP4, H.264 with three B-frames", made("h264-mp4", kH264 + mp4), 150, positionIsNumber},
    {"fragmented MP4, as screen recorders write",
        made("h264-fmp4", kH264 + QStringList{"-movflags", "frag_keyframe+empty_moov"} + mp4),
        150, positionIsNumber},
    {"MP4 cut with an edit list", cutWithEditList, 117, nullptr, true},
    {"MP4 with a variable frame rate",
        made("vfr-mp4",
            QStringList{"-vf", "select='not(eq(mod(n\\,7)\\,3))'", "-fps_mode", "vfr"} + kH264 +
                mp4),
        150, keptNumber},
    {"MP4 from a phone held upright: shown turned a quarter", rotated, 60, positionIsNumber,
        false, 270},
    {"MOV, MPEG-4 part 2 with B-frames",
        made("mpeg4-mov", {"-c:v", "mpeg4", "-bf", "2", "-g", "50", "-q:v", "4", "-f", "mov"}),
        150, positionIsNumber},
    {"MP4, HEVC",
        made("hevc-mp4", QStringList{"-c:v", "libx265", "-g", "50", "-preset", "ultrafast",
                             "-x265-params", "log-level=none"} + mp4),
        150, positionIsNumber},
    {"MKV without cues or duration, as written to a pipe",
        made("h264-live-mkv", kH264 + QStringList{"-live", "1", "-f", "matroska"}), 150,
        positionIsNumber},
    {"WebM, VP9 with hidden frames",
        made("vp9-webm", {"-c:v", "libvpx-vp9", "-g", "50", "-auto-alt-ref", "1", "-lag-in-frames",
                             "16", "-deadline", "realtime", "-cpu-used", "8", "-f", "webm"}),
        150, positionIsNumber},
    {"MPEG-TS, no index at all", made("h264-ts", kH264 + QStringList{"-f", "mpegts"}), 150,
        positionIsNumber},
};

class VisitOrder : public ::testing::TestWithParam<Shape> {};

TEST_P(VisitOrder, EveryPositionShowsItsOwnFrame)
{
    QString error;
    const QString path = GetParam().make(&error);
    if (path.isEmpty())
        GTEST_SKIP() << "could not make the file: " << error.toStdString();

    auto open = [&] {
        QString message;
        auto source = video::openFrameSource(path, &message);
        EXPECT_TRUE(source) << message.toStdString();
        return source;
    };
    auto first = open();
    ASSERT_TRUE(first);
    const int length = first->info().frameCount;
    EXPECT_EQ(length, GetParam().length);
    if (GetParam().clockwise) { // container files are made 320x240
        const bool sideways = GetParam().clockwise % 180 != 0;
        EXPECT_EQ(first->info().width, sideways ? 240 : 320);
        EXPECT_EQ(first->info().height, sideways ? 320 : 240);
    }
    // The number is read from the picture as it was filmed.
    const QTransform back = QTransform().rotate(-GetParam().clockwise);
    const auto numberAt = [&](video::FrameSource &source, int p) {
        const QImage image = source.frameAt(p);
        if (image.isNull() || !GetParam().clockwise)
            return numberOf(image);
        EXPECT_EQ(image.size(), QSize(source.info().width, source.info().height));
        return numberOf(image.transformed(back));
    };

    std::vector<int> expected(size_t(length) + 1);
    if (GetParam().numberAt) {
        for (int p = 0; p <= length; ++p)
            expected[size_t(p)] = GetParam().numberAt(std::min(p, length - 1));
    } else {
        for (int p = 0; p <= length; ++p) {
            expected[size_t(p)] = numberAt(*first, p);
            ASSERT_GE(expected[size_t(p)], 0) << "walk at " << p;
            if (p > 0) { // pictures come in the order they were filmed
                ASSERT_GE(expected[size_t(p)], expected[size_t(p - 1)]) << "walk at " << p;
            }
            if (GetParam().consecutive && p > 0 && p < length) {
                ASSERT_EQ(expected[size_t(p)], expected[size_t(p - 1)] + 1) << "walk at " << p;
            }
        }
        if (GetParam().consecutive) { // the start of the cut, not the keyframe before it
            EXPECT_GT(expected[0], 0);
        }
    }

    std::set<int> spread{0, 1, length / 2, length - 1, length};
    for (int p = 1; p < length; ++p) {
        if (first->isKeyframe(p)) {
            for (int d = -2; d <= 2; ++d)
                spread.insert(std::clamp(p + d, 0, length));
        }
    }
    const std::vector<int> ascending(spread.begin(), spread.end());
    std::vector<int> shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), std::mt19937(12));
    const std::pair<const char *, std::vector<int>> orders[] = {
        {"ascending", ascending},
        {"descending", std::vector<int>(ascending.rbegin(), ascending.rend())},
        {"shuffled", shuffled},
    };
    for (const auto &[how, order] : orders) {
        auto source = open();
        ASSERT_TRUE(source);
        for (int p : order) {
            EXPECT_EQ(numberAt(*source, p), expected[size_t(p)])
                << how << " visit, position " << p;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, VisitOrder, ::testing::ValuesIn(kShapes));

} // namespace
