#include "tests/support/ClipCorpus.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <cstdio>
#include <functional>
#include <sys/wait.h>

namespace {

struct Entry {
    ClipCorpus::Kind kind;
    const char *name;
    ClipCorpus::Spec spec;
    QStringList codec; // after the test picture; empty for the hand-made kinds
};

// The AVI muxer fills the gaps that passthrough keeps, after every 7th frame (n = 3, 10, 17,
// ...) is dropped, with zero-size chunks.
const QStringList kNullFrames{"-an", "-vf", "select='not(eq(mod(n\\,7)\\,3))'",
    "-fps_mode", "passthrough", "-c:v", "mjpeg", "-q:v", "4"};

const std::vector<Entry> &entries()
{
    using K = ClipCorpus::Kind;
    const QStringList mjpeg{"-c:v", "mjpeg", "-q:v", "4"};
    static const std::vector<Entry> table = {
        {K::Dib24, "dib24", {}, {"-c:v", "rawvideo", "-pix_fmt", "bgr24"}},
        {K::Dib32, "dib32", {}, {"-c:v", "rawvideo", "-pix_fmt", "bgra"}},
        {K::Dib16, "dib16", {}, {"-c:v", "rawvideo", "-pix_fmt", "rgb555le"}},
        {K::Dib8, "dib8", {}, {}},
        {K::Rle8, "rle8", {.keyframeInterval = 20}, {}},
        {K::MsVideo1, "msvideo1", {.frameCount = 80, .keyframeInterval = 25},
            {"-c:v", "msvideo1", "-g", "25"}},
        {K::Cinepak, "cinepak", {.frameCount = 80, .keyframeInterval = 25},
            {"-c:v", "cinepak", "-g", "25"}},
        {K::Mjpeg, "mjpeg", {}, mjpeg},
        {K::Huffyuv, "huffyuv", {}, {"-c:v", "huffyuv"}},
        {K::Dv, "dv", {.width = 720, .height = 576, .frameCount = 40},
            {"-c:v", "dvvideo", "-pix_fmt", "yuv420p"}},
        {K::Mpeg4Packed, "mpeg4packed", {.frameCount = 150, .keyframeInterval = 50},
            {"-c:v", "libxvid", "-bf", "2", "-g", "50", "-q:v", "4"}},
        {K::H264, "h264",
            {.frameCount = 150, .rateNum = 30000, .rateDen = 1001, .keyframeInterval = 50},
            {"-c:v", "libx264", "-bf", "2", "-g", "50", "-keyint_min", "50", "-sc_threshold",
                "0", "-pix_fmt", "yuv420p", "-preset", "fast"}},
        {K::NullFrames, "nullframes", {.frameCount = 100}, kNullFrames},
        {K::WithAudio, "withaudio", {.frameCount = 100},
            QStringList{"-f", "lavfi", "-i", "sine=frequency=440:sample_rate=44100", "-frames:v",
                "100", "-t", "4"} +
                mjpeg + QStringList{"-c:a", "pcm_s16le", "-ac", "2"}},
    };
    return table;
}

const Entry &entry(ClipCorpus::Kind kind)
{
    return entries()[size_t(kind)]; // in the order of the kinds
}

// ffmpeg arguments for the kinds that ffmpeg makes.
QStringList recipe(ClipCorpus::Kind kind)
{
    using K = ClipCorpus::Kind;
    const ClipCorpus::Spec s = ClipCorpus::spec(kind);
    const QString source = QStringLiteral("testsrc2=size=%1x%2:rate=%3/%4")
        .arg(s.width).arg(s.height).arg(s.rateNum).arg(s.rateDen);
    if (kind == K::NullFrames || kind == K::WithAudio) // they say their own length
        return QStringList{"-f", "lavfi", "-i", source +
            (kind == K::NullFrames ? QStringLiteral(":duration=4") : QString())} +
            entry(kind).codec;
    return QStringList{"-f", "lavfi", "-i", source, "-frames:v", QString::number(s.frameCount),
        "-an"} + entry(kind).codec;
}

QString recipeHash(const QStringList &args)
{
    const QByteArray digest = QCryptographicHash::hash(args.join(QChar(0x1f)).toUtf8(),
        QCryptographicHash::Sha1);
    return QString::fromLatin1(digest.toHex().left(10));
}

// `path` when it is there already, or made now by `write` (which returns why it failed) into
// a temporary file beside it and moved into place, so that a concurrent reader sees either
// nothing or the whole file; whoever was faster wins.
QString madeOnce(const QString &path, const std::function<QString(const QString &)> &write,
    QString *error)
{
    if (QFileInfo(path).size() > 0)
        return path;
    QDir().mkpath(QFileInfo(path).path());
    const QString tmp = path + QStringLiteral(".") + QUuid::createUuid().toString(QUuid::Id128) +
        QStringLiteral(".tmp.avi");
    QString failure = write(tmp);
    if (failure.isEmpty() &&
        !(QFile::exists(path) || QFile::rename(tmp, path) || QFile::exists(path)))
        failure = QStringLiteral("cannot write %1").arg(path);
    QFile::remove(tmp);
    if (!failure.isEmpty() && error)
        *error = failure;
    return failure.isEmpty() ? path : QString();
}

void put32(QByteArray &b, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

QByteArray words(std::initializer_list<uint32_t> values)
{
    QByteArray b;
    for (uint32_t v : values)
        put32(b, v);
    return b;
}

void putChunk(QByteArray &b, const char *fourcc, const QByteArray &body)
{
    b.append(fourcc, 4);
    put32(b, uint32_t(body.size()));
    b.append(body);
    if (body.size() % 2)
        b.append('\0');
}

QByteArray list(const char *type, const QByteArray &body)
{
    QByteArray b("LIST");
    put32(b, uint32_t(body.size() + 4));
    b.append(type, 4);
    b.append(body);
    return b;
}

// The hand-made picture of frame n: 8-bit palette indices, top row first.
QByteArray patternFrame(int width, int height, int n)
{
    QByteArray f(width * height, '\0');
    auto at = [&](int x, int y) -> char & { return f[y * width + x]; };
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            at(x, y) = char((x / 10 + y / 10) % 8);
    }
    // A square that moves every frame...
    const int side = std::min(20, std::min(width, height) / 3);
    const int sx = (n * 3) % std::max(1, width - side);
    const int sy = (n * 2) % std::max(1, height - side);
    for (int y = sy; y < sy + side; ++y) {
        for (int x = sx; x < sx + side; ++x)
            at(x, y) = char(100 + n % 50);
    }
    // ...and the frame number in binary along the top.
    for (int bit = 0; bit < 10; ++bit) {
        for (int y = 2; y < std::min(height, 10); ++y) {
            for (int x = 4 + bit * 12; x < std::min(width, 4 + bit * 12 + 10); ++x)
                at(x, y) = char((n >> bit) & 1 ? 255 : 250);
        }
    }
    return f;
}

// RLE8 of `frame` (top row first); with `previous` it is a delta frame that skips the pixels
// that did not change.
QByteArray encodeRle8(const QByteArray &frame, const QByteArray *previous, int width,
    int height)
{
    QByteArray out;
    auto px = [&](const QByteArray &img, int x, int y) { return img[y * width + x]; };
    // RLE8 runs bottom-up: the first line coded is the picture's last.
    for (int line = 0; line < height; ++line) {
        const int y = height - 1 - line;
        int x = 0;
        while (x < width) {
            if (previous) {
                int same = 0;
                while (x + same < width && same < 255 &&
                    px(frame, x + same, y) == px(*previous, x + same, y))
                    ++same;
                // The rest of the line unchanged: the end of the line says so. (A skip
                // to the line's very end is "beyond the picture" to some decoders, which
                // then drop the whole frame.)
                if (x + same == width)
                    break;
                if (same > 0) { // a skip of `same` pixels right, none down
                    out.append(QByteArray("\0\2", 2)).append(char(same)).append('\0');
                    x += same;
                    continue;
                }
            }
            const char value = px(frame, x, y);
            int run = 1;
            while (x + run < width && run < 255 && px(frame, x + run, y) == value &&
                (!previous || px(frame, x + run, y) != px(*previous, x + run, y)))
                ++run;
            out.append(char(run)).append(value);
            x += run;
        }
        out.append('\0').append(line == height - 1 ? '\1' : '\0'); // end of line or picture
    }
    return out;
}

} // namespace

QList<ClipCorpus::Kind> ClipCorpus::allKinds()
{
    QList<Kind> kinds;
    for (const Entry &e : entries())
        kinds << e.kind;
    return kinds;
}

QString ClipCorpus::name(Kind kind) { return QString::fromLatin1(entry(kind).name); }

ClipCorpus::Spec ClipCorpus::spec(Kind kind) { return entry(kind).spec; }

QByteArray ClipCorpus::readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool ClipCorpus::writeAll(const QString &path, const QByteArray &data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(data) == data.size();
}

// Through popen, whose child glibc starts with posix_spawn, rather than QProcess: a QProcess
// child runs Qt code in the parent's memory between vfork and exec, which ThreadSanitizer
// books as the parent's own and then reports as races in correctly locked code.
int ClipCorpus::ffmpeg(const QStringList &args, QByteArray *output)
{
    QByteArray line = "ffmpeg";
    for (const QString &arg : args) // each word quoted for the shell
        line += " '" + QFile::encodeName(arg).replace('\'', "'\\''") + '\'';
    FILE *pipe = ::popen((line + " </dev/null 2>&1").constData(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
        if (output)
            output->append(buffer, qsizetype(n));
    }
    const int status = ::pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

QString ClipCorpus::generate(const QString &name, const QStringList &ffmpegArgs, QString *error,
    const QString &dir)
{
    // AVI unless the recipe names another container after its last input.
    const bool ownFormat = ffmpegArgs.indexOf(QStringLiteral("-f"),
                               ffmpegArgs.lastIndexOf(QStringLiteral("-i")) + 1) >= 0;
    const QString path = (dir.isEmpty() ? QStringLiteral(KURIMO_TEST_DATA_DIR) : dir) + '/' +
        name + '-' + recipeHash(ffmpegArgs) + QStringLiteral(".avi");
    return madeOnce(path, [&](const QString &tmp) {
        QByteArray output; // the shell's word when there is no ffmpeg at all
        if (ffmpeg(QStringList{"-nostdin", "-y", "-hide_banner", "-loglevel", "error"} +
                    ffmpegArgs + (ownFormat ? QStringList{tmp} : QStringList{"-f", "avi", tmp}),
                &output) == 0)
            return QString();
        return QStringLiteral("ffmpeg failed for %1: %2")
            .arg(name, QString::fromLocal8Bit(output).left(2000));
    }, error);
}

QString ClipCorpus::file(Kind kind, QString *error)
{
    if (kind != Kind::Dib8 && kind != Kind::Rle8)
        return generate(name(kind), recipe(kind), error);

    const Spec s = spec(kind);
    // The version is part of the name: change it when the hand-made content changes.
    return handMade(name(kind) + QStringLiteral("-v2"),
        patternAvi(s.width, s.height, s.frameCount, s.keyframeInterval, kind == Kind::Rle8),
        error);
}

QString ClipCorpus::handMade(const QString &name, const RawAvi &avi, QString *error)
{
    return madeOnce(QStringLiteral(KURIMO_TEST_DATA_DIR "/") + name + QStringLiteral(".avi"),
        [&](const QString &tmp) {
            return writeAvi(tmp, avi) ? QString() : QStringLiteral("cannot write %1").arg(tmp);
        },
        error);
}

ClipCorpus::RawAvi ClipCorpus::patternAvi(int width, int height, int frames,
    int keyframeInterval, uint32_t compression)
{
    RawAvi avi{.width = width, .height = height, .bitCount = 8, .compression = compression,
        .palette = patternPalette(), .chunks = {}};
    QByteArray previous;
    for (int n = 0; n < frames; ++n) {
        const QByteArray frame = patternFrame(width, height, n);
        Chunk chunk;
        chunk.keyframe = n % keyframeInterval == 0;
        if (compression == 1) {
            chunk.data = encodeRle8(frame, chunk.keyframe ? nullptr : &previous, width, height);
        } else {
            // Bottom-up rows, each padded to 4 bytes.
            const int stride = (width + 3) & ~3;
            chunk.data = QByteArray(stride * height, '\0');
            for (int y = 0; y < height; ++y) {
                memcpy(chunk.data.data() + (height - 1 - y) * stride,
                    frame.constData() + y * width, size_t(width));
            }
        }
        avi.chunks.push_back(chunk);
        previous = frame;
    }
    return avi;
}

std::vector<uint32_t> ClipCorpus::patternPalette()
{
    std::vector<uint32_t> palette(256);
    for (uint32_t i = 0; i < 256; ++i) // red, green and blue each a different walk
        palette[i] = ((i * 37 + 20) & 0xff) << 16 | ((i * 91 + 60) & 0xff) << 8 |
            ((i * 53 + 100) & 0xff);
    return palette;
}

bool ClipCorpus::writeAvi(const QString &path, const RawAvi &avi)
{
    const int paletteSize = int(avi.palette.size());
    uint32_t largest = 0;
    for (const Chunk &c : avi.chunks)
        largest = std::max(largest, uint32_t(c.data.size()));

    // Little-endian words; a pair of 16-bit fields is one word, the first in its low half.
    const uint32_t w = uint32_t(avi.width);
    const uint32_t h = uint32_t(avi.height);
    const uint32_t frames = uint32_t(avi.chunks.size());
    const QByteArray avih = words({uint32_t(1000000.0 * avi.rateDen / avi.rateNum), 0, 0,
        0x10 /* AVIF_HASINDEX */, frames, 0, 1, largest, w, h, 0, 0, 0, 0});
    const QByteArray strh = QByteArray("vids") + (avi.compression == 1 ? "mrle" : "DIB ") +
        words({0, 0, 0, uint32_t(avi.rateDen), uint32_t(avi.rateNum), 0, frames, largest,
            0xffffffffu, 0, 0, w | h << 16});
    QByteArray strf = words({40, w, h, 1 | uint32_t(avi.bitCount) << 16, avi.compression,
        uint32_t(((avi.width * avi.bitCount + 31) / 32) * 4 * avi.height), 0, 0,
        uint32_t(paletteSize), 0});
    for (uint32_t rgb : avi.palette)
        put32(strf, rgb & 0xffffff); // RGBQUAD: blue, green, red, 0

    QByteArray strl;
    putChunk(strl, "strh", strh);
    putChunk(strl, "strf", strf);
    QByteArray hdrl;
    putChunk(hdrl, "avih", avih);
    hdrl.append(list("strl", strl));

    const char *chunkId = avi.compression == 0 ? "00db" : "00dc";
    QByteArray movi;
    QByteArray idx1;
    for (const Chunk &c : avi.chunks) {
        if (!c.paletteChange.empty()) {
            // From the first entry, a count (0 is 256), then PALETTEENTRY: red, green, blue, 0.
            QByteArray change = words({uint32_t(c.paletteChange.size() & 0xff) << 8});
            for (uint32_t rgb : c.paletteChange)
                put32(change, (rgb >> 16 & 0xff) | (rgb & 0xff00) | (rgb & 0xff) << 16);
            idx1 += "00pc" + words({0x100 /* AVIIF_NOTIME */, uint32_t(movi.size() + 4),
                uint32_t(change.size())});
            putChunk(movi, "00pc", change);
        }
        // Offsets count from the 'movi' fourcc.
        idx1 += chunkId + words({c.keyframe ? 0x10u : 0u, uint32_t(movi.size() + 4),
            uint32_t(c.data.size())});
        putChunk(movi, chunkId, c.data);
    }

    QByteArray body("AVI ");
    body.append(list("hdrl", hdrl));
    body.append(list("movi", movi));
    putChunk(body, "idx1", idx1);
    QByteArray riff("RIFF");
    put32(riff, uint32_t(body.size()));
    riff.append(body);

    return writeAll(path, riff);
}
