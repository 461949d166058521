// Every position shows its own picture whatever was visited before: every generated codec and
// shape, visited in three orders, each on a fresh open, the later ones with the index the
// first one kept. The yardstick is a plain sequential decode, pixel for pixel; files whose
// pictures carry their frame number in a band are read by that number instead: the other
// containers, and files where a sequential decode is not the answer (an unfinished recording,
// a stream marked low-delay that is not, a cut, a turned picture).

#include "platform/video/FrameSource.h"
#include "platform/video/device/Opening.h"
#include "tests/decode/ReferenceDecode.h"
#include "tests/support/ClipCorpus.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTransform>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <set>
#include <tuple>
#include <thread>

namespace {

using Kind = ClipCorpus::Kind;

// Largest difference of any colour channel; 0 when the pictures are the same.
int maxDifference(const QImage &a, const QImage &b)
{
    if (a.size() != b.size() || a.isNull() || b.isNull())
        return 256;
    int worst = 0;
    for (int y = 0; y < a.height(); ++y) {
        const auto *la = reinterpret_cast<const QRgb *>(a.constScanLine(y));
        const auto *lb = reinterpret_cast<const QRgb *>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            worst = std::max({worst, std::abs(qRed(la[x]) - qRed(lb[x])),
                std::abs(qGreen(la[x]) - qGreen(lb[x])), std::abs(qBlue(la[x]) - qBlue(lb[x]))});
        }
    }
    return worst;
}

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

// Writes `data` as a variant of `source`, once.
QString variant(const QString &source, const QString &suffix,
    const std::function<bool(QByteArray &)> &patch)
{
    if (source.isEmpty())
        return {};
    const QString path = source.chopped(4) + suffix + QStringLiteral(".avi");
    if (QFileInfo(path).size() > 0)
        return path;
    QByteArray data = ClipCorpus::readAll(source);
    const QString tmp = path + QStringLiteral(".%1.tmp").arg(QCoreApplication::applicationPid());
    if (data.isEmpty() || !patch(data) || !ClipCorpus::writeAll(tmp, data))
        return {};
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

QString longGop(const QString &name, int width, int height, QString *error)
{
    // Keyframes 50 apart with two B-frames: the keyframe chunks land at 0, 49, 97 and 145,
    // the last one shown last, after the two B-frames that need the GOP before.
    return ClipCorpus::generate(name,
        numberedSource(width, height, 148) +
            QStringList{"-c:v", "mpeg4", "-vtag", "XVID", "-bf", "2", "-g", "50", "-q:v", "4"},
        error);
}

QString packedLowDelay(QString *error)
{
    const QString packed = ClipCorpus::generate(QStringLiteral("packed-far-keys"),
        numberedSource(320, 240, 160) +
            QStringList{"-c:v", "libxvid", "-bf", "2", "-g", "80", "-q:v", "4"},
        error);
    return variant(packed, QStringLiteral("-divx5"), dropVolControl);
}

QString unfinishedRecording(uint32_t size, int cut, QString *error)
{
    const QString whole = ClipCorpus::generate(QStringLiteral("recording"),
        numberedSource(320, 240, 120) +
            QStringList{"-c:v", "mpeg4", "-bf", "2", "-g", "50", "-q:v", "4"},
        error);
    return variant(whole, QStringLiteral("-unfinished-%1-%2").arg(size, 0, 16).arg(cut),
        [&](QByteArray &data) { return unfinish(data, size, cut); });
}

// Any container: `args` after the numbered source, `-f` among them.
QString container(const QString &name, int frames, const QStringList &args, QString *error)
{
    return ClipCorpus::generate(name, numberedSource(320, 240, frames) + args, error);
}

// A copy from 1.3 s on without re-encoding: an MP4 edit list whose first packets, from the
// keyframe before the cut, are decoded but never shown.
QString cutWithEditList(QString *error)
{
    const QString whole = container(QStringLiteral("cut-source"), 150,
        {"-c:v", "libx264", "-bf", "3", "-g", "50", "-preset", "veryfast", "-f", "mp4"}, error);
    if (whole.isEmpty())
        return {};
    return ClipCorpus::generate(QStringLiteral("cut-edit-list"),
        {"-ss", "1.3", "-i", whole, "-c", "copy", "-f", "mp4"}, error);
}

// Every 7th picture left out (n = 3, 10, 17 ...) and the rest kept at their times: a
// variable frame rate, as a phone records in poor light.
int keptNumber(int p) { return p + (p + 3) / 6; }

int positionIsNumber(int p) { return p; }

// 150 pictures, 60 to 99 left out of a B-frame stream: the AVI keeps their places as null frames,
// each showing picture 59 again.
int heldOverNullRun(int p) { return p >= 60 && p < 100 ? 59 : p; }

QString nullRunAfterBFrames(QString *error)
{
    return container(QStringLiteral("bframes-null-run"), 150,
        {"-vf", "select='not(between(n\\,60\\,99))'", "-fps_mode", "passthrough", "-c:v",
            "mpeg4", "-bf", "2", "-g", "50", "-q:v", "4", "-f", "avi"},
        error);
}

int fromFifty(int p) { return p + 50; }

const QStringList kH264{"-c:v", "libx264", "-bf", "3", "-g", "50", "-preset", "veryfast"};
const QStringList kH264Ts = kH264 + QStringList{"-f", "mpegts"};
const QStringList mp4{"-f", "mp4"};

// A recording that starts in the middle of a GOP: the first sixth of a transport stream cut
// off, so that its first packets have no parameter sets and no keyframe before them; the
// first picture shown is the keyframe at 50.
QString cutMidGop(QString *error)
{
    const QString whole = container(QStringLiteral("gop-ts"), 150,
        {"-c:v", "libx264", "-bf", "3", "-g", "50", "-sc_threshold", "0", "-preset", "veryfast",
            "-f", "mpegts"}, error);
    return variant(whole, QStringLiteral("-cut"), [](QByteArray &data) {
        data.remove(0, data.size() / 6 / 188 * 188);
        return true;
    });
}

// A capture card's transport stream: every video PES says it is longer than it is, so the
// demuxer flags each packet as corrupt.
QString damagedPesLengths(QString *error)
{
    const QString whole = container(QStringLiteral("pes-ts"), 150, kH264Ts, error);
    return variant(whole, QStringLiteral("-pes-lengths"), [](QByteArray &data) {
        int patched = 0;
        for (qsizetype at = 0; at + 188 <= data.size(); at += 188) {
            const auto *p = reinterpret_cast<const uchar *>(data.constData() + at);
            if (p[0] != 0x47 || !(p[1] & 0x40)) // a PES starts here
                continue;
            const int payload = (p[3] & 0x20) ? 5 + p[4] : 4;
            if (payload + 6 <= 188 && p[payload] == 0 && p[payload + 1] == 0 &&
                p[payload + 2] == 1 && p[payload + 3] == 0xe0) {
                data[at + payload + 4] = char(0xff);
                data[at + payload + 5] = char(0xff);
                ++patched;
            }
        }
        return patched > 0;
    });
}

// Open GOPs without a container: the raw stream cut at its second sequence header, so that
// it starts with an I-picture whose first B-pictures refer to one not in the file.
QString cutOpenGopStream(QString *error)
{
    const QString whole = container(QStringLiteral("open-gop-m2v"), 150,
        {"-c:v", "mpeg2video", "-bf", "2", "-g", "30", "-q:v", "4", "-f", "mpeg2video"}, error);
    return variant(whole, QStringLiteral("-cut"), [](QByteArray &data) {
        const qsizetype second = data.indexOf(QByteArray("\0\0\1\xb3", 4), 4);
        data.remove(0, second);
        return second > 0;
    });
}

// Two programmes: the first in the programme map has the numbered pictures, the second a
// stream at twice the rate, of which the demuxer's probe sees more pictures and which
// av_find_best_stream would therefore call the best.
QString twoProgrammes(QString *error)
{
    return ClipCorpus::generate(QStringLiteral("two-programmes"),
        QStringList{"-f", "lavfi", "-i", "testsrc=s=320x240:r=50:d=3"} +
            numberedSource(320, 240, 150) +
            QStringList{"-map", "1:v", "-map", "0:v", "-c:v", "libx264", "-preset", "veryfast",
                "-program", "title=first:st=0", "-program", "title=second:st=1", "-f", "mpegts"},
        error);
}

// 150 numbered pictures at 320x240, encoded and wrapped as `args` say.
std::function<QString(QString *)> made(const char *name, const QStringList &args)
{
    return [=](QString *e) { return container(QString::fromLatin1(name), 150, args, e); };
}

// An AVI's H.264 with B-frames copied into `format` with generated times: they count the
// packets in the order they are decoded, so they say nothing of the order pictures are shown.
std::function<QString(QString *)> copiedFromAvi(const char *name, const char *format)
{
    return [=](QString *error) {
        const QString avi = container(QStringLiteral("genpts-source"), 150,
            {"-c:v", "libx264", "-bf", "2", "-g", "50", "-preset", "veryfast", "-f", "avi"}, error);
        return avi.isEmpty() ? QString()
            : ClipCorpus::generate(QString::fromLatin1(name),
                  {"-fflags", "+genpts", "-i", avi, "-map", "0:v", "-c", "copy", "-f", format},
                  error);
    };
}

// The display matrix goes in as a copy, as a phone writes it beside the stream.
QString rotated(QString *error)
{
    const QString upright = container(QStringLiteral("unrotated-mp4"), 60,
        {"-c:v", "libx264", "-bf", "2", "-g", "30", "-preset", "veryfast", "-f", "mp4"}, error);
    return upright.isEmpty() ? QString()
        : ClipCorpus::generate(QStringLiteral("rotated-mp4"),
              {"-i", upright, "-c", "copy", "-metadata:s:v:0", "rotate=90", "-f", "mp4"}, error);
}


// No display matrix beside the stream: the turn comes in the pictures' own SEI messages, as
// in a phone's transport stream.
QString rotatedInPictures(QString *error)
{
    return container(QStringLiteral("sei-rotated-mkv"), 60,
        kH264 + QStringList{"-bsf:v", "h264_metadata=display_orientation=insert:rotate=90",
                    "-f", "matroska"},
        error);
}

// A hand-made 8-bit file (RLE8 with `compression` 1) with `change` applied to its chunks.
std::function<QString(QString *)> handMade(const QString &name, int frames, int keyEvery,
    uint32_t compression, const std::function<void(ClipCorpus::RawAvi &)> &change)
{
    return [=](QString *e) {
        ClipCorpus::RawAvi avi = ClipCorpus::patternAvi(64, 48, frames, keyEvery, compression);
        change(avi);
        return ClipCorpus::handMade(name, avi, e);
    };
}

// Null frames: empty chunks, which repeat the picture before them.
std::function<void(ClipCorpus::RawAvi &)> emptied(int from, int to)
{
    return [=](ClipCorpus::RawAvi &avi) {
        for (int n = from; n < to; ++n)
            avi.chunks[size_t(n)] = {};
    };
}

// Palettes that change before frames 10 (between keyframes), 20 (at one) and 47.
void paletteChanges(ClipCorpus::RawAvi &avi)
{
    for (int n : {0, 10, 20, 47}) {
        std::vector<uint32_t> palette = ClipCorpus::patternPalette();
        for (uint32_t &rgb : palette)
            rgb = (rgb + uint32_t(n) * 0x3f1d07u) & 0xffffffu;
        (n ? avi.chunks[size_t(n)].paletteChange : avi.palette) = palette;
    }
}

// Pictures from 640x480 up that our own conversion does not take (4:1:1 DV) are converted
// in two bands on two threads, and long-GOP ones decode on two frame threads. An odd height
// puts the last chroma row and the band boundary off the usual grid.
std::function<QString(QString *)> large(const char *name, const char *source,
    const QStringList &codec)
{
    return [=](QString *e) {
        return ClipCorpus::generate(QString::fromLatin1(name),
            QStringList{"-f", "lavfi", "-i", QStringLiteral("testsrc2=") + source, "-frames:v",
                "20", "-an"} + codec, e);
    };
}

struct How {
    // The number shown at each position when the file says it plainly; or `walked`: the
    // numbers a fresh step-by-step walk shows are the yardstick, and with `consecutive` they
    // must go up by one from position to position.
    std::function<int(int)> numberAt = {};
    bool walked = false;
    bool consecutive = false;
    int clockwise = 0; // how far the file says to turn its pictures to show them upright
    int repeats = 0;   // positions that repeat the picture before them (null frames)
    bool everyPosition = false; // visit all of them, not a spread
    std::optional<Kind> kind = {}; // a corpus file: its size, rate and sound are known too
    bool numbered() const { return numberAt || walked; }
};

const How kNumbered{.numberAt = positionIsNumber};
const How kWalked{.walked = true};

struct Shape {
    std::string name;
    std::function<QString(QString *)> make;
    int length;
    How how;
};

std::ostream &operator<<(std::ostream &out, const Shape &shape) { return out << shape.name; }

std::vector<Shape> corpusShapes()
{
    std::vector<Shape> shapes;
    for (Kind kind : ClipCorpus::allKinds()) {
        // Xvid leaves a null chunk where it packs a B-frame with the frame after it.
        const int repeats = kind == Kind::NullFrames ? 14 : kind == Kind::Mpeg4Packed ? 2 : 0;
        shapes.push_back({ClipCorpus::name(kind).toStdString(),
            [kind](QString *e) { return ClipCorpus::file(kind, e); },
            ClipCorpus::spec(kind).frameCount, {.repeats = repeats, .kind = kind}});
    }
    return shapes;
}

std::vector<Shape> allShapes()
{
    const QStringList h264{"-c:v", "libx264", "-bf", "3", "-g", "50", "-preset", "veryfast"};
    const QStringList mp4{"-f", "mp4"};
    std::vector<Shape> shapes = corpusShapes();
    const std::vector<Shape> more = {
        {"trailing_nulls", handMade("trailing-nulls-v2", 40, 1, 0, [](auto &avi) {
             emptied(20, 21)(avi);
             emptied(37, 40)(avi);
         }), 40, {.repeats = 4}},
        {"long_null_run", handMade("null-run-v1", 80, 1, 0, emptied(10, 60)), 80, {.repeats = 50}},
        {"palette_dib8", handMade("palette-dib8-v1", 60, 20, 0, paletteChanges), 60, {}},
        {"palette_rle8", handMade("palette-rle8-v1", 60, 20, 1, paletteChanges), 60, {}},
        {"large_mjpeg420", large("large-mjpeg420", "size=656x497:rate=25",
             {"-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj420p"}), 20, {}},
        {"large_mjpeg422", large("large-mjpeg422", "size=656x497:rate=25",
             {"-c:v", "mjpeg", "-q:v", "4", "-pix_fmt", "yuvj422p"}), 20, {}},
        {"large_h264_bt709", large("large-h264", "size=656x497:rate=25",
             {"-c:v", "libx264", "-preset", "ultrafast", "-g", "8", "-bf", "2", "-pix_fmt",
                 "yuv420p", "-colorspace", "bt709", "-color_primaries", "bt709", "-color_trc",
                 "bt709"}), 20, {}},
        {"large_dv_411", large("large-dv411", "size=720x480:rate=30000/1001",
             {"-c:v", "dvvideo", "-pix_fmt", "yuv411p"}), 20, {}},
        {"large_xvid_packed", large("large-xvid", "size=656x496:rate=25",
             {"-c:v", "libxvid", "-bf", "2", "-g", "8", "-q:v", "4"}), 20, {.repeats = 2}},
        // Keyframes 50 apart with two B-frames: the last keyframe is shown last, after the
        // two B-frames that need the GOP before.
        {"long_gop_frame_threads",
            [](QString *e) { return longGop(QStringLiteral("long-gop-800"), 800, 600, e); },
            148, kNumbered},
        {"long_gop_one_thread",
            [](QString *e) { return longGop(QStringLiteral("long-gop-320"), 320, 240, e); },
            148, kNumbered},
        {"packed_marked_low_delay", packedLowDelay, 160, kWalked},
        {"unfinished_sizes_0", [](QString *e) { return unfinishedRecording(0, 0, e); }, 120,
            kNumbered},
        {"unfinished_placeholders_cut",
            [](QString *e) { return unfinishedRecording(0xffffffffu, 100, e); }, 119, kWalked},
        {"null_run_after_bframes", nullRunAfterBFrames, 190,
            {.numberAt = heldOverNullRun, .everyPosition = true}},
        {"mp4_h264", made("h264-mp4", h264 + mp4), 150, kNumbered},
        {"fragmented_mp4",
            made("h264-fmp4", h264 + QStringList{"-movflags", "frag_keyframe+empty_moov"} + mp4),
            150, kNumbered},
        {"mp4_edit_list", cutWithEditList, 117, {.walked = true, .consecutive = true}},
        // Every 7th picture left out and the rest kept at their times, as a phone records in
        // poor light.
        {"mp4_variable_rate",
            made("vfr-mp4", QStringList{"-vf", "select='not(eq(mod(n\\,7)\\,3))'", "-fps_mode",
                                "vfr"} + h264 + mp4),
            150, {.numberAt = keptNumber}},
        {"mp4_phone_upright", rotated, 60, {.numberAt = positionIsNumber, .clockwise = 270}},
        {"mkv_upright_by_sei", rotatedInPictures, 60,
            {.numberAt = positionIsNumber, .clockwise = 270}},
        {"mov_mpeg4",
            made("mpeg4-mov", {"-c:v", "mpeg4", "-bf", "2", "-g", "50", "-q:v", "4", "-f", "mov"}),
            150, kNumbered},
        {"mp4_hevc",
            made("hevc-mp4", QStringList{"-c:v", "libx265", "-g", "50", "-preset", "ultrafast",
                                 "-x265-params", "log-level=none"} + mp4),
            150, kNumbered},
        {"mkv_live_no_cues",
            made("h264-live-mkv", h264 + QStringList{"-live", "1", "-f", "matroska"}), 150,
            kNumbered},
        {"webm_vp9_hidden_frames",
            made("vp9-webm", {"-c:v", "libvpx-vp9", "-g", "50", "-auto-alt-ref", "1",
                                 "-lag-in-frames", "16", "-deadline", "realtime", "-cpu-used", "8",
                                 "-f", "webm"}),
            150, kNumbered},
        {"mpegts_no_index", made("h264-ts", kH264Ts), 150, kNumbered},
        {"mpegts_cut_mid_gop", cutMidGop, 100, {.numberAt = fromFifty}},
        {"mpegts_damaged_pes_lengths", damagedPesLengths, 150, kNumbered},
        {"mpegts_first_programme", twoProgrammes, 150, kNumbered},
        // Timestamps that repeat (pictures 4 and 5 of every 25) and go back (picture 24 after
        // the IDR picture 25), as a browser's recording and clips joined by a tool have them.
        {"mkv_timestamps_repeat_and_go_back",
            made("setts-mkv", {"-c:v", "libx264", "-bf", "0", "-g", "25", "-sc_threshold", "0",
                                  "-preset", "veryfast", "-bsf:v",
                                  "setts=pts=if(eq(mod(N\\,25)\\,24)\\,PTS+60\\,"
                                  "if(eq(mod(N\\,25)\\,4)\\,PTS+40\\,PTS))",
                                  "-f", "matroska"}),
            150, kNumbered},
        {"mkv_times_in_decode_order", copiedFromAvi("genpts-mkv", "matroska"), 150, kNumbered},
        {"mp4_times_in_decode_order", copiedFromAvi("genpts-mp4", "mp4"), 150, kNumbered},
        // The two B-pictures the decoder drops are no positions; the rest are in the order of
        // their temporal references, not of the times the demuxer guesses.
        {"mpeg2_stream_cut_open_gop", cutOpenGopStream, 120, {}},
    };
    shapes.insert(shapes.end(), more.begin(), more.end());
    return shapes;
}

class FrameExactness : public ::testing::TestWithParam<Shape> {
protected:
    void SetUp() override
    {
        QString error;
        path = GetParam().make(&error);
        ASSERT_FALSE(path.isEmpty()) << "could not make the file: " << error.toStdString();
        first = open();
        ASSERT_TRUE(first);
        length = first->info().frameCount;
        ASSERT_EQ(length, GetParam().length);
        if (!GetParam().how.numbered()) {
            reference = referenceDecode(path).framesByPosition;
            ASSERT_EQ(int(reference.size()), length);
            // If neighbours looked alike, a decoder one frame off would pass.
            int alike = 0;
            for (int p = 1; p < length; ++p)
                alike += maxDifference(reference[size_t(p)], reference[size_t(p - 1)]) <= 8;
            EXPECT_EQ(alike, GetParam().how.repeats);
            return;
        }
        expected.resize(size_t(length) + 1);
        for (int p = 0; p <= length; ++p) {
            if (GetParam().how.numberAt) {
                expected[size_t(p)] = GetParam().how.numberAt(std::min(p, length - 1));
                continue;
            }
            expected[size_t(p)] = numberIn(first->frameAt(p));
            ASSERT_GE(expected[size_t(p)], 0) << "walk at " << p;
            if (p > 0) { // pictures come in the order they were filmed
                ASSERT_GE(expected[size_t(p)], expected[size_t(p - 1)]) << "walk at " << p;
            }
            if (GetParam().how.consecutive && p > 0 && p < length) {
                ASSERT_EQ(expected[size_t(p)], expected[size_t(p - 1)] + 1) << "walk at " << p;
            }
        }
        if (GetParam().how.consecutive) { // the start of the cut, not the keyframe before it
            EXPECT_GT(expected[0], 0);
        }
    }

    // `cache`: the index kept between opens, where one is to be used and kept.
    std::unique_ptr<video::FrameSource> open(const QString &cache = {}) const
    {
        QString error;
        video::DecodeOptions options;
        options.indexCache = cache;
        auto source = video::openFrameSource(path, &error, options);
        EXPECT_TRUE(source) << error.toStdString();
        return source;
    }

    // The number is read from the picture as it was filmed.
    int numberIn(const QImage &image) const
    {
        if (image.isNull() || !GetParam().how.clockwise)
            return numberOf(image);
        EXPECT_EQ(image.size(), QSize(first->info().width, first->info().height));
        return numberOf(image.transformed(QTransform().rotate(-GetParam().how.clockwise)));
    }

    // How the picture at `p` differs from the yardstick's; empty when it does not.
    std::string wrong(const QImage &image, int p) const
    {
        if (image.format() != QImage::Format_RGB32)
            return "format " + std::to_string(image.format());
        if (GetParam().how.numbered()) {
            const int n = numberIn(image);
            return n == expected[size_t(p)] ? std::string() : "number " + std::to_string(n);
        }
        const int d = maxDifference(image, reference[size_t(std::min(p, length - 1))]);
        return d == 0 ? std::string() : "differs by " + std::to_string(d);
    }

    QString path;
    std::unique_ptr<video::FrameSource> first;
    int length = 0;
    std::vector<QImage> reference;
    std::vector<int> expected;
};

TEST_P(FrameExactness, EveryPositionShowsItsOwnPictureInAnyOrder)
{
    const Shape &shape = GetParam();
    const video::VideoInfo &info = first->info();
    if (shape.how.kind) {
        const ClipCorpus::Spec spec = ClipCorpus::spec(*shape.how.kind);
        EXPECT_EQ(QSize(info.width, info.height), QSize(spec.width, spec.height));
        EXPECT_EQ(std::pair(info.rateNum, info.rateDen), std::pair(spec.rateNum, spec.rateDen));
        EXPECT_EQ(info.hasAudio, shape.how.kind == Kind::WithAudio);
        EXPECT_TRUE(first->isKeyframe(0));
        EXPECT_EQ(first->isKeyframe(1), spec.keyframeInterval == 1);
    }
    if (shape.how.clockwise % 180) { // container files are made 320x240
        EXPECT_EQ(QSize(info.width, info.height), QSize(240, 320));
    }

    // The ends, each keyframe and its neighbours, the repeats and a few at random.
    std::set<int> spread{0, 1, length / 2, length - 1, length};
    bool intra = true; // every picture a keyframe or a repeat
    for (int p = 1; p < length; ++p) {
        if (first->isKeyframe(p)) {
            for (int d = -3; d <= 2; ++d)
                spread.insert(std::clamp(p + d, 0, length));
        }
        const bool repeat = !reference.empty() &&
            maxDifference(reference[size_t(p)], reference[size_t(p - 1)]) == 0;
        if (repeat)
            spread.insert(p);
        intra = intra && (repeat || first->isKeyframe(p));
    }
    if (shape.how.everyPosition) {
        for (int p = 0; p < length; ++p)
            spread.insert(p);
    }
    std::mt19937 random(12);
    for (int i = 0; i < 6; ++i)
        spread.insert(int(random() % unsigned(length)));
    const std::vector<int> ascending(spread.begin(), spread.end());
    std::vector<int> shuffled = ascending;
    std::shuffle(shuffled.begin(), shuffled.end(), random);
    std::vector<int> reshuffled = ascending;
    std::shuffle(reshuffled.begin(), reshuffled.end(), random);
    const struct {
        const char *how;
        std::vector<int> order;
        bool ahead = false;
    } orders[] = {
        {"ascending", ascending},
        {"descending", std::vector<int>(ascending.rbegin(), ascending.rend())},
        {"shuffled", shuffled},
        {"shuffled, decoding ahead at rest", reshuffled, true},
    };
    // The first visit keeps the index where the file was scanned whole; the others take it
    // from there and must see the same.
    const QTemporaryDir indexCache;
    for (const auto &[how, order, ahead] : orders) {
        auto source = open(indexCache.filePath(QStringLiteral("kurimo")));
        ASSERT_TRUE(source);
        // A Matroska file opened again takes what the stream probe said from the entry.
        const video::VideoInfo &again = source->info();
        EXPECT_EQ(std::tuple(again.width, again.height, again.rateNum, again.rateDen,
                      again.hasAudio, again.streamId),
            std::tuple(info.width, info.height, info.rateNum, info.rateDen, info.hasAudio,
                info.streamId))
            << how;
        EXPECT_EQ(source->pictureBytes(), first->pictureBytes()) << how;
        EXPECT_EQ(again.frameCount, info.frameCount) << how;
        EXPECT_EQ(again.pictureMs, info.pictureMs) << how;
        for (int p = 0; p < length; ++p)
            EXPECT_EQ(source->isKeyframe(p), first->isKeyframe(p)) << how << " at " << p;
        source->setDecodeAhead(ahead);
        // The shuffled visit keeps what it got with room for three pictures in the cache: the
        // images share recycled pixel memory and must keep their pictures while later ones
        // are converted and evicted, and after the source itself is gone.
        // The visit with decoding ahead, with room for a few dozen pictures: what the work at
        // rest decodes below its place must not push out what lies between.
        const bool kept = order == shuffled;
        if (kept || ahead)
            source->setCacheCapBytes(qint64(info.width) * info.height * 4 * (kept ? 3 : 30));
        std::vector<std::pair<int, QImage>> images;
        int previous = 0;
        for (size_t i = 0; i < order.size(); ++i) {
            const int p = order[i];
            images.emplace_back(p, source->frameAt(p));
            EXPECT_EQ(wrong(images.back().second, p), "") << how << " visit, position " << p;
            // Every other call comes while the source decodes ahead, the others after a rest.
            if (ahead && i % 2 == 1) {
                source->waitForRest();
                if (p >= previous && p + 1 < length) {
                    EXPECT_TRUE(source->isCached(p + 1)) << "after a rest at " << p;
                }
                // Before it, what a jump left undecoded is decoded again.
                for (const int back : {1, intra ? 1 : 8}) {
                    EXPECT_TRUE(p < back || source->isCached(p - back)) << "at rest at " << p;
                }
            }
            previous = p;
        }
        if (!kept)
            continue;
        EXPECT_LE(source->stats().cacheBytes, source->stats().cacheCapBytes);
        source.reset();
        for (const auto &[p, image] : images)
            EXPECT_EQ(wrong(image, p), "") << "kept from the shuffled visit, position " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, FrameExactness, ::testing::ValuesIn(allShapes()),
    [](const auto &info) { return info.param.name; });

// What the play queue does: it holds decoded pictures long after the cache has let them go
// and the decoder has reused its buffers, and converts them on a thread of its own. Room for
// two frames only, so the walk backwards keeps missing and restarting.
class HeldPictures : public FrameExactness {};

TEST_P(HeldPictures, ConvertElsewhereToTheSequentialFrames)
{
    auto source = open();
    ASSERT_TRUE(source);
    source->setCacheCapBytes(qint64(first->info().width) * first->info().height * 4 * 2);
    std::vector<std::pair<int, video::PicturePtr>> held;
    for (int p = length - 1; p >= 0; --p)
        held.emplace_back(p, source->pictureAt(p));
    for (int p = 0; p < length; ++p) // forwards too, the decoder running on
        held.emplace_back(p, source->pictureAt(p));
    EXPECT_LE(source->stats().cacheBytes, source->stats().cacheCapBytes);

    std::vector<QImage> images(held.size());
    std::thread converter([&] {
        for (size_t i = 0; i < held.size(); ++i)
            images[i] = held[i].second ? held[i].second->toImage() : QImage();
    });
    converter.join();
    for (size_t i = 0; i < held.size(); ++i)
        EXPECT_EQ(wrong(images[i], held[i].first), "") << held[i].first;
}

INSTANTIATE_TEST_SUITE_P(Corpus, HeldPictures, ::testing::ValuesIn(corpusShapes()),
    [](const auto &info) { return info.param.name; });

// What a step, a step back and a wind step cost, counted in decoded frames.
TEST(StepCost, StepsAndWindsReuseTheDecoderAndTheCache)
{
    for (Kind kind : {Kind::H264, Kind::Mpeg4Packed, Kind::Mjpeg}) {
        SCOPED_TRACE(ClipCorpus::name(kind).toStdString());
        QString error;
        auto source = video::openFrameSource(ClipCorpus::file(kind), &error);
        ASSERT_TRUE(source) << error.toStdString();
        const bool intra = ClipCorpus::spec(kind).keyframeInterval == 1;
        const int target = 40; // ten frames before the second keyframe of the long GOPs
        ASSERT_FALSE(source->frameAt(target).isNull());
        const auto cost = [&](int p) {
            const qint64 before = source->stats().framesDecoded;
            EXPECT_FALSE(source->frameAt(p).isNull()) << p;
            return source->stats().framesDecoded - before;
        };
        EXPECT_EQ(cost(target - 1), intra ? 1 : 0) << "a step back after a seek is a cache hit";
        EXPECT_EQ(cost(target - 10), intra ? 1 : 0) << "so is a wind step back";
        EXPECT_LE(cost(target + 1), intra ? 1 : 2) << "a step forward continues the decoder";
        // With every frame a keyframe, a wind step goes straight to its target.
        EXPECT_LE(cost(target + 11), intra ? 1 : 11) << "a wind step forward decodes ten";

        // With room for a few frames only, the B-frames far before a target are not
        // decoded: not all of the 46 frames from the keyframe before come out.
        auto small = video::openFrameSource(ClipCorpus::file(kind), &error);
        ASSERT_TRUE(small);
        small->setCacheCapBytes(small->pictureBytes() * 3);
        EXPECT_FALSE(small->frameAt(145).isNull());
        EXPECT_LE(small->stats().framesDecoded, intra ? 1 : 40) << "a seek far from a keyframe";

        // A first visit starts at the keyframe at or before the target, never one after it
        // or one earlier: the run would put itself right, at the cost of a second one.
        // The H.264 file's keyframes are 0, 50 and 100 exactly; Xvid's packing moves them.
        const std::pair<int, qint64> firstVisits[] = {{49, 50}, {50, 1}, {51, 2}};
        for (const auto &[p, decodes] : firstVisits) {
            auto fresh = video::openFrameSource(ClipCorpus::file(kind), &error);
            ASSERT_TRUE(fresh);
            EXPECT_FALSE(fresh->frameAt(p).isNull());
            if (kind != Kind::Mpeg4Packed) {
                EXPECT_EQ(fresh->stats().framesDecoded, intra ? 1 : decodes) << "first visit " << p;
            }
        }
    }
}

TEST(FrameSourceThreads, TwoThreadsGetExactFramesAtOnce)
{
    const QString path = ClipCorpus::file(Kind::H264);
    const ReferenceDecode reference = referenceDecode(path);
    QString error;
    auto source = video::openFrameSource(path, &error);
    ASSERT_TRUE(source) << error.toStdString();
    std::atomic<int> wrong{0};
    auto walk = [&](int from, int step) {
        for (int i = 0, p = from; i < 40; ++i, p += step) {
            const QImage image = source->frameAt(p);
            if (maxDifference(image, reference.framesByPosition[size_t(p)]) != 0)
                ++wrong;
        }
    };
    std::thread forward(walk, 5, 1);
    std::thread backward(walk, 140, -2);
    forward.join();
    backward.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
