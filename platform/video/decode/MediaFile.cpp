#include "platform/video/decode/MediaFile.h"

#include "platform/video/decode/AviExtent.h"

extern "C" {
#include <libavutil/display.h>
}

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <QTimer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <future>
#include <new>
#include <optional>
#include <set>
#include <thread>

namespace video {

namespace {

// A rate a video can have: from one picture in 100 s to 1000 a second. A header claiming one
// picture per million seconds (or none) would make every length and every wait absurd.
bool plausibleRate(AVRational rate)
{
    return rate.num > 0 && rate.den > 0 && int64_t(rate.num) <= 1000 * int64_t(rate.den) &&
        100 * int64_t(rate.num) >= int64_t(rate.den);
}

// When the header's rate is none a video can have: what the demuxer guessed from the stream
// (the codec's own timing, say), else 25.
AVRational fallbackRate(const AVStream *st)
{
    for (const AVRational guess : {st->avg_frame_rate, st->r_frame_rate}) {
        if (plausibleRate(guess))
            return guess;
    }
    return AVRational{25, 1};
}

// AVI gives the video stream's time base as scale/rate; one tick is one frame slot.
void setRate(VideoInfo &info, const AVStream *st)
{
    AVRational rate{0, 0};
    if (st->time_base.num > 0 && st->time_base.den > 0)
        av_reduce(&rate.num, &rate.den, st->time_base.den, st->time_base.num, INT32_MAX);
    if (!plausibleRate(rate))
        rate = fallbackRate(st);
    info.rateNum = rate.num;
    info.rateDen = rate.den;
}

// Null frames are dropped frames: a few per real one at most. A slot table far larger than
// that comes from damaged timestamps and would only cost memory (one entry per slot).
bool plausibleSlotCount(int64_t slotTotal, int packets)
{
    return slotTotal <= 4 * int64_t(packets) + 1024;
}

bool intraOnly(AVCodecID id)
{
    const AVCodecDescriptor *d = avcodec_descriptor_get(id);
    return d && (d->props & AV_CODEC_PROP_INTRA_ONLY);
}

// Whether a VP8 or VP9 frame (or a VP9 superframe) puts a picture on screen: their encoders
// send reference frames that are never shown (alternate references) as packets of their own
// in WebM, and position N is the N-th picture shown. Other codecs show one per packet.
bool vp9Shows(const uint8_t *d, int size)
{
    if (size < 1)
        return false;
    const int profile = ((d[0] >> 5) & 1) | (((d[0] >> 4) & 1) << 1);
    int bit = 4 + (profile == 3 ? 1 : 0);
    auto at = [&](int b) { return b / 8 < size ? (d[b / 8] >> (7 - b % 8)) & 1 : 0; };
    if (at(bit)) // show_existing_frame
        return true;
    return at(bit + 2); // after frame_type: show_frame
}

bool showsPicture(AVCodecID codec, const uint8_t *data, int size)
{
    if (!data || size <= 0)
        return true;
    if (codec == AV_CODEC_ID_VP8)
        return (data[0] >> 4) & 1;
    if (codec != AV_CODEC_ID_VP9)
        return true;
    const uint8_t marker = data[size - 1];
    if ((marker & 0xe0) != 0xc0)
        return vp9Shows(data, size);
    // A superframe: its index at the end gives each frame's size.
    const int frames = (marker & 7) + 1;
    const int sizeBytes = ((marker >> 3) & 3) + 1;
    const int indexSize = 2 + sizeBytes * frames;
    if (size < indexSize || data[size - indexSize] != marker)
        return vp9Shows(data, size);
    const uint8_t *entry = data + size - indexSize + 1;
    int offset = 0;
    for (int f = 0; f < frames; ++f) {
        int frameSize = 0;
        for (int b = 0; b < sizeBytes; ++b)
            frameSize |= int(entry[f * sizeBytes + b]) << (8 * b);
        if (frameSize <= 0 || offset + frameSize > size - indexSize)
            return true;
        if (vp9Shows(data + offset, frameSize))
            return true;
        offset += frameSize;
    }
    return false;
}

// What the file's idx1 says of one stream's frame chunks; frames < 0 when it has no idx1.
struct Idx1Count {
    int64_t frames = -1; // every frame chunk, empty ones (null frames) included
    int64_t nonEmpty = 0;
};

// The demuxer leaves empty chunks out of its index, and with them the null frames at the
// end of a file, which nothing after them stamps; idx1 itself still lists them.
Idx1Count countIdx1(QFile &file, int stream)
{
    Idx1Count count;
    const qint64 size = file.size();
    char head[12];
    if (stream < 0 || stream > 99 || !file.seek(0) || file.read(head, 12) != 12 ||
        std::memcmp(head, "RIFF", 4) != 0)
        return count;
    qint64 pos = 12;
    while (pos + 8 <= size) {
        char chunk[12];
        if (!file.seek(pos) || file.read(chunk, 12) < 8)
            return count;
        if (!avi::chunkId(chunk))
            return count; // the zeros after a recording that was never finished
        const qint64 length = avi::le32(chunk + 4);
        if (std::memcmp(chunk, "LIST", 4) == 0 && std::memcmp(chunk + 8, "movi", 4) == 0 &&
            (length == 0 || pos + 8 + length > size))
            return count; // never finished: nothing follows the data
        if (std::memcmp(chunk, "idx1", 4) == 0) {
            const qint64 entries = std::min(length, size - pos - 8) / 16;
            if (!file.seek(pos + 8))
                return count;
            const QByteArray table = file.read(entries * 16);
            const char id[2] = {char('0' + stream / 10), char('0' + stream % 10)};
            count.frames = 0;
            for (qint64 i = 0; i + 16 <= table.size(); i += 16) {
                const char *e = table.constData() + i;
                const bool noTime = avi::le32(e + 4) & 0x100; // palette changes and the like
                if (e[0] != id[0] || e[1] != id[1] || noTime || (e[2] == 'p' && e[3] == 'c'))
                    continue;
                ++count.frames;
                if (avi::le32(e + 12) > 0)
                    ++count.nonEmpty;
            }
            return count;
        }
        pos += 8 + length + (length & 1);
    }
    return count;
}

// Reads a file for a demuxer, but serves the listed byte ranges (the video samples' payloads)
// as zeros without reading them: the scan of an MP4 needs only what the sample tables say of
// each packet, and reading the payloads meant reading the whole file. All else (the boxes,
// fragments found later) is read from the file.
class PayloadSkippingReader {
public:
    PayloadSkippingReader(const QByteArray &path, std::vector<std::pair<int64_t, int64_t>> ranges)
        : m_fd(::open(path.constData(), O_RDONLY | O_CLOEXEC)), m_ranges(std::move(ranges))
    {
        struct stat st {};
        if (m_fd >= 0 && ::fstat(m_fd, &st) == 0)
            m_size = int64_t(st.st_size);
    }
    ~PayloadSkippingReader()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PayloadSkippingReader(const PayloadSkippingReader &) = delete;
    PayloadSkippingReader &operator=(const PayloadSkippingReader &) = delete;

    bool good() const { return m_fd >= 0 && m_size > 0; }

    static int read(void *opaque, uint8_t *buffer, int wanted)
    {
        auto *self = static_cast<PayloadSkippingReader *>(opaque);
        const int64_t at = self->m_offset;
        if (at >= self->m_size || wanted <= 0)
            return AVERROR_EOF;
        // The first range that ends after `at`; ranges are sorted and do not overlap.
        const auto range = std::upper_bound(self->m_ranges.begin(), self->m_ranges.end(), at,
            [](int64_t offset, const auto &r) { return offset < r.second; });
        int64_t count = std::min<int64_t>(wanted, self->m_size - at);
        if (range != self->m_ranges.end() && range->first <= at) {
            count = std::min(count, range->second - at);
            std::memset(buffer, 0, size_t(count));
        } else {
            if (range != self->m_ranges.end())
                count = std::min(count, range->first - at);
            const ssize_t got = ::pread(self->m_fd, buffer, size_t(count), off_t(at));
            if (got <= 0)
                return got == 0 ? AVERROR_EOF : AVERROR(errno);
            count = got;
        }
        self->m_offset = at + count;
        return int(count);
    }

    static int64_t seek(void *opaque, int64_t offset, int whence)
    {
        auto *self = static_cast<PayloadSkippingReader *>(opaque);
        switch (whence & ~AVSEEK_FORCE) {
        case AVSEEK_SIZE: return self->m_size;
        case SEEK_SET: break;
        case SEEK_CUR: offset += self->m_offset; break;
        case SEEK_END: offset += self->m_size; break;
        default: return AVERROR(EINVAL);
        }
        if (offset < 0)
            return AVERROR(EINVAL);
        self->m_offset = offset;
        return offset;
    }

private:
    int m_fd = -1;
    int64_t m_size = 0;
    int64_t m_offset = 0;
    std::vector<std::pair<int64_t, int64_t>> m_ranges; // [begin, end)
};

// The demuxer's parser reads each packet it hands on, the zeros too, and says so at length;
// what it says of them is no news. Other threads' messages go out as ever.
thread_local bool t_quiet = false;

void logUnlessQuiet(void *context, int level, const char *format, va_list args)
{
    if (!t_quiet)
        av_log_default_callback(context, level, format, args);
}

// Set before main(), while no other thread can be logging.
const bool g_logFilterSet = [] {
    av_log_set_callback(&logUnlessQuiet);
    return true;
}();

class QuietHere {
public:
    QuietHere() { t_quiet = true; }
    ~QuietHere() { t_quiet = false; }
    QuietHere(const QuietHere &) = delete;
    QuietHere &operator=(const QuietHere &) = delete;
};

// A second demuxer of the same file over a PayloadSkippingReader, for one scan.
struct SkippingDemuxer {
    std::unique_ptr<PayloadSkippingReader> reader;
    int64_t samples = 0; // the video samples the tables list, empty ones left out
    AVIOContext *io = nullptr;
    ff::FormatPtr format;

    SkippingDemuxer() = default;
    SkippingDemuxer(const SkippingDemuxer &) = delete;
    SkippingDemuxer &operator=(const SkippingDemuxer &) = delete;
    ~SkippingDemuxer()
    {
        format.reset(); // before the I/O it reads through
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
};

// Codecs whose packets the scan takes as they come: one picture each, whatever the bytes
// (VP8 and VP9 hide some pictures, which only their bytes tell), and no parser in the
// MP4 demuxer that would cut or join them. The parser does look at the pictures the sample
// table calls sync samples, and keeps as keyframes only those whose bytes say so: those
// are read as they are.
bool scanNeedsNoPayload(AVCodecID id)
{
    return id == AV_CODEC_ID_H264 || id == AV_CODEC_ID_HEVC || id == AV_CODEC_ID_MPEG4 ||
        id == AV_CODEC_ID_AV1 || id == AV_CODEC_ID_PRORES;
}

// Why a name is no file to open, or empty when it is one. A folder, a device, a named pipe
// or a link that leads nowhere was found all the same: "not found" would mislead.
QString notARegularFile(const QString &path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        switch (errno) {
        case ELOOP: return QStringLiteral("リンクが循環しています");
        case ENAMETOOLONG: return QStringLiteral("ファイル名が長すぎます");
        case EACCES: return QStringLiteral("ファイルを読めません");
        default: return QStringLiteral("ファイルが見つかりません");
        }
    }
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("フォルダです");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("通常のファイルではありません");
    return {};
}

// Whether an H.264 packet holds an IDR picture, before which every picture decoded earlier is
// shown, whatever the timestamps say (clips joined by a tool that got them wrong).
// `lengthSize`: the size of each NAL unit's length (MP4, MKV), or 0 for start codes.
bool holdsIdr(const uint8_t *d, int size, int lengthSize)
{
    if (lengthSize > 0) {
        for (int at = 0; at + lengthSize < size;) {
            uint32_t length = 0;
            for (int b = 0; b < lengthSize; ++b)
                length = length << 8 | d[at + b];
            at += lengthSize;
            if (length == 0 || length > uint32_t(size - at))
                return false;
            const int type = d[at] & 0x1f;
            if (type >= 1 && type <= 5) // the first slice tells
                return type == 5;
            at += int(length);
        }
        return false;
    }
    for (int i = 0; i + 3 < size; ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1) {
            const int type = d[i + 3] & 0x1f;
            if (type >= 1 && type <= 5)
                return type == 5;
            i += 2;
        }
    }
    return false;
}

// Where an MPEG-1 or MPEG-2 picture is shown in a raw stream, whose timestamps the demuxer
// only guesses (in the order of the file, B-pictures and all): its GOP's number, counted
// from `gop` on, and its temporal reference within it. -1 when the packet holds no picture.
int64_t mpegShowOrder(const uint8_t *d, int size, int64_t *gop)
{
    for (int i = 0; i + 5 < size; ++i) {
        if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1)
            continue;
        if (d[i + 3] == 0xb8)
            ++*gop;
        else if (d[i + 3] == 0)
            return *gop * 1024 + (int(d[i + 4]) << 2 | d[i + 5] >> 6);
    }
    return -1;
}

// Tells the second field of a field pair. A transport stream carries each field of a
// field-coded picture (H.264 PAFF, MPEG-2 field pictures) as a packet of its own, and the
// decoder makes one frame of the two, with the first one's timestamp: the second is no
// position of its own. The codec's parser reads only the headers, and only of a stream that
// the probe did not find progressive.
class SecondFields {
public:
    explicit SecondFields(const AVCodecParameters *par)
    {
        const bool coded = par &&
            (par->codec_id == AV_CODEC_ID_H264 || par->codec_id == AV_CODEC_ID_MPEG2VIDEO);
        if (!coded || par->field_order == AV_FIELD_PROGRESSIVE)
            return;
        m_context.reset(avcodec_alloc_context3(nullptr));
        m_parser = av_parser_init(par->codec_id);
        if (!m_context || !m_parser || avcodec_parameters_to_context(m_context.get(), par) < 0) {
            close();
            return;
        }
        m_parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
    }
    ~SecondFields() { close(); }
    SecondFields(const SecondFields &) = delete;
    SecondFields &operator=(const SecondFields &) = delete;

    bool isSecond(const AVPacket *packet)
    {
        if (!m_parser)
            return false;
        uint8_t *out = nullptr;
        int outSize = 0;
        av_parser_parse2(m_parser, m_context.get(), &out, &outSize, packet->data, packet->size,
            AV_NOPTS_VALUE, AV_NOPTS_VALUE, packet->pos);
        const int structure = m_parser->picture_structure;
        const bool field = structure == AV_PICTURE_STRUCTURE_TOP_FIELD ||
            structure == AV_PICTURE_STRUCTURE_BOTTOM_FIELD;
        const bool second = field && m_open != 0 && m_open != structure;
        m_open = field && !second ? structure : 0;
        return second;
    }

private:
    void close()
    {
        if (m_parser)
            av_parser_close(m_parser);
        m_parser = nullptr;
        m_context.reset();
    }

    ff::CodecPtr m_context;
    AVCodecParserContext *m_parser = nullptr;
    int m_open = 0; // the structure of a first field still waiting for its pair
};

} // namespace

MediaFile::Indexing &MediaFile::indexing()
{
    static Indexing settings;
    return settings;
}

namespace {

// Holds the caller until the open is done: on the spot for a moment, then with its event
// loop running. User input waits meanwhile, so nothing clicked can start a second open or
// use a half-made device; paint events, timers and commands arriving by other ways run.
// False when the application quit meanwhile.
template <typename T>
bool waitKeepingEventsAlive(std::future<T> &done, int holdMs)
{
    using namespace std::chrono;
    if (done.wait_for(milliseconds(holdMs)) == std::future_status::ready)
        return true;
    QCoreApplication *app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        done.wait(); // no event loop of ours to keep running
        return true;
    }
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done.wait_for(seconds(0)) == std::future_status::ready)
            loop.quit();
    });
    check.start(10);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // Quitting the application ends every event loop, this one too, before the open is done.
    return done.wait_for(seconds(0)) == std::future_status::ready;
}

} // namespace

std::unique_ptr<MediaFile> MediaFile::open(const QString &path, QString *error, int choice,
    int *choices)
{
    struct Outcome {
        std::unique_ptr<MediaFile> file;
        QString error;
        int choices = 0;
    };
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    std::packaged_task<Outcome()> task([path, cancelled, choice] {
        Outcome outcome;
        try {
            outcome.file = openHere(path, &outcome.error, *cancelled, choice, &outcome.choices);
        } catch (const std::bad_alloc &) {
            outcome.file.reset();
            outcome.error = QStringLiteral("メモリが足りません");
            return outcome;
        }
        if (outcome.file && indexing().afterIndex)
            indexing().afterIndex();
        return outcome;
    });
    std::future<Outcome> done = task.get_future();
    std::thread worker(std::move(task));
    if (!waitKeepingEventsAlive(done, indexing().holdMs))
        cancelled->store(true);
    worker.join();
    Outcome outcome = done.get();
    if (choices)
        *choices = outcome.choices;
    if (!outcome.file && error)
        *error = outcome.error;
    return std::move(outcome.file);
}

void MediaFile::turnBy(const int32_t *matrix)
{
    // The matrix turns counter-clockwise; pictures are shown turned back.
    const double turn = -av_display_rotation_get(matrix);
    if (std::isfinite(turn))
        m_clockwise = ((int(std::lround(turn / 90.0)) % 4 + 4) % 4) * 90;
    if (m_clockwise % 180 != 0)
        std::swap(m_info.width, m_info.height);
}

void MediaFile::learnRotationFrom(const AVFrame *picture)
{
    if (m_rotationKnown)
        return;
    m_rotationKnown = true;
    const AVFrameSideData *side = av_frame_get_side_data(picture, AV_FRAME_DATA_DISPLAYMATRIX);
    if (side && side->size >= int(9 * sizeof(int32_t)))
        turnBy(reinterpret_cast<const int32_t *>(side->data));
}

// The video streams a player could show (cover art in a music file is none), in the order to
// try them: the one av_find_best_stream picks first; in a transport stream of several
// programmes, each programme's in the order of the programme map.
static std::vector<int> videoStreams(AVFormatContext *fc)
{
    std::vector<int> videos;
    auto add = [&](int i) {
        const AVStream *stream = fc->streams[i];
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
            !(stream->disposition & AV_DISPOSITION_ATTACHED_PIC) &&
            std::find(videos.begin(), videos.end(), i) == videos.end())
            videos.push_back(i);
    };
    if (fc->nb_programs > 1) {
        for (unsigned p = 0; p < fc->nb_programs; ++p) {
            for (unsigned k = 0; k < fc->programs[p]->nb_stream_indexes; ++k) {
                const unsigned i = fc->programs[p]->stream_index[k];
                if (i < fc->nb_streams)
                    add(int(i));
            }
        }
    } else {
        const int best = av_find_best_stream(fc, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (best >= 0)
            add(best);
    }
    for (unsigned i = 0; i < fc->nb_streams; ++i)
        add(int(i));
    return videos;
}

std::unique_ptr<MediaFile> MediaFile::openHere(const QString &path, QString *error,
    const std::atomic<bool> &cancelled, int choice, int *choices)
{
    auto fail = [error](const QString &message) {
        if (error)
            *error = message;
        return nullptr;
    };
    const QFileInfo fileInfo(path);
    if (const QString why = notARegularFile(path); !why.isEmpty())
        return fail(why);
    if (!fileInfo.isReadable())
        return fail(QStringLiteral("ファイルを読めません"));
    if (fileInfo.size() == 0)
        return fail(QStringLiteral("ファイルが空です"));

    std::unique_ptr<MediaFile> file(new MediaFile);
    file->m_path = path;
    file->m_fileSize = fileInfo.size();
    file->m_localPath = QFile::encodeName(path);
    file->m_identity = identityOf(file->m_localPath);
    file->m_cancelled = &cancelled;
    QString message;
    if (!file->openDemuxer(&message))
        return fail(message);

    if (avformat_find_stream_info(file->m_format.get(), nullptr) < 0) {
        // Not fatal: the header already told us what the video stream is.
    }
    AVFormatContext *fc = file->m_format.get();
    const std::vector<int> videos = videoStreams(fc);
    *choices = int(videos.size());
    if (choice < 0 || choice >= int(videos.size()))
        return fail(QStringLiteral("映像が入っていません"));
    file->m_stream = videos[size_t(choice)];
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        if (fc->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            file->m_info.hasAudio = true;
    }
    // Only the video stream is read here; the sound has a reader of its own.
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        if (int(i) != file->m_stream)
            fc->streams[i]->discard = AVDISCARD_ALL;
    }

    AVStream *st = fc->streams[file->m_stream];
    const AVCodecParameters *par = st->codecpar;
    if (par->width <= 0 || par->height <= 0 || par->width > kMaxSide ||
        par->height > kMaxSide) {
        // The demuxer leaves a size it refuses at 0×0: what the header claims says more.
        int64_t width = par->width;
        int64_t height = par->height;
        if (width == 0 && height == 0 && file->m_avi)
            avi::claimedSize(file->m_localPath, &width, &height);
        return fail(QStringLiteral("映像の大きさを扱えません（%1×%2）").arg(width).arg(height));
    }
    if (!avcodec_find_decoder(par->codec_id)) {
        const char *name = avcodec_get_name(par->codec_id);
        return fail(QStringLiteral("この映像の圧縮形式には対応していません（%1）")
                        .arg(QString::fromLatin1(name ? name : "?")));
    }
    file->m_info.width = file->m_decodedWidth = par->width;
    file->m_info.height = file->m_decodedHeight = par->height;
    const uint8_t *matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix && !file->m_avi)
        file->turnBy(reinterpret_cast<const int32_t *>(matrix));
    file->m_rotationKnown = matrix || file->m_avi;

    if (file->m_avi) {
        setRate(file->m_info, st);
        file->capturePalette();
        const bool indexed = file->buildIndexFromDemuxer() && file->indexCoversStream();
        if (!indexed && !file->scanPackets())
            return fail(QStringLiteral("映像のフレームが見つかりません"));
    } else if (!file->scanTimestamps()) {
        return fail(QStringLiteral("映像のフレームが見つかりません"));
    }
    if (file->m_avi)
        file->m_info.frameCount = file->m_index.slotCount();
    if (!file->m_palette.empty())
        file->findPaletteChanges();
    if (file->stopScanning())
        return fail(QStringLiteral("開くのを取りやめました"));
    if (!file->rewind())
        return fail(QStringLiteral("ファイルが壊れています"));
    file->m_cancelled = nullptr;
    return file;
}

bool MediaFile::openDemuxer(QString *error)
{
    AVFormatContext *raw = nullptr;
    const QByteArray name = demuxerUrl(m_path, m_cancelled);
    // Probe rather than force the AVI demuxer: forced on a file that is something else, it
    // reads the whole file looking for chunks.
    if (const int code = avformat_open_input(&raw, name.constData(), nullptr, nullptr);
        code < 0) {
        *error = code == AVERROR(EMFILE) || code == AVERROR(ENFILE)
            ? QStringLiteral("開いているファイルが多すぎます")
            : code == AVERROR(ENOMEM) ? QStringLiteral("メモリが足りません")
            : code == AVERROR(EACCES) ? QStringLiteral("ファイルを読めません")
                                      : QStringLiteral("動画ファイルとして読めません");
        return false;
    }
    m_format.reset(raw);
    // Any text opens as "tty", a picture as one of the image demuxers: neither is a video.
    const char *format = m_format->iformat ? m_format->iformat->name : "";
    if (!*format || std::strcmp(format, "tty") == 0 || std::strstr(format, "_pipe") ||
        std::strcmp(format, "image2") == 0) {
        *error = QStringLiteral("動画ファイルとして読めません");
        return false;
    }
    m_avi = std::strcmp(format, "avi") == 0;
    m_byteSeek = std::strcmp(format, "mpegts") == 0 || std::strcmp(format, "mpeg") == 0 ||
        rawStream();
    return true;
}

const AVCodecParameters *MediaFile::codecParameters() const
{
    return m_format->streams[m_stream]->codecpar;
}

// The demuxer's index has one entry per non-empty chunk, stamped with its slot; null frames
// are the slots no entry has. Used as it is only when it is sound and covers the stream.
bool MediaFile::buildIndexFromDemuxer()
{
    AVStream *st = m_format->streams[m_stream];
    const int entries = avformat_index_get_entries_count(st);
    if (entries <= 0)
        return false;
    const bool allKey = intraOnly(st->codecpar->codec_id);
    std::vector<FrameIndex::Packet> packets;
    packets.reserve(size_t(entries));
    int64_t lastSlot = -1;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry *e = avformat_index_get_entry(st, i);
        if (!e || e->timestamp <= lastSlot || e->timestamp > INT32_MAX / 2 || e->pos < 0 ||
            e->pos + 8 + e->size > m_fileSize || e->size <= 0)
            return false;
        FrameIndex::Packet p;
        p.pos = e->pos + 8; // the entry points at the chunk header, packets at the payload
        p.size = e->size;
        p.slot = int(e->timestamp);
        p.keyframe = allKey || (e->flags & AVINDEX_KEYFRAME);
        packets.push_back(p);
        lastSlot = e->timestamp;
    }
    if (!plausibleSlotCount(lastSlot + 1, entries))
        return false;
    int64_t slotTotal = lastSlot + 1;
    QFile file(m_path);
    const Idx1Count idx1 = file.open(QIODevice::ReadOnly) ? countIdx1(file, m_stream)
                                                           : Idx1Count{};
    if (idx1.frames >= slotTotal && idx1.nonEmpty == entries &&
        plausibleSlotCount(idx1.frames, entries)) {
        slotTotal = idx1.frames;
    } else {
        // The header's frame count also counts trailing null frames; an index that stops
        // well short of it is one that ffmpeg made from the first packets it read.
        const int64_t declared = st->nb_frames;
        if (declared > slotTotal) {
            if (declared > slotTotal + 2)
                return false;
            slotTotal = declared;
        }
    }
    packets.front().keyframe = true;
    m_index = FrameIndex(std::move(packets), int(slotTotal));
    return true;
}

// A recording that was never finished has no index; what the demuxer has then is what it
// read while probing the start. Frame chunks after the last entry give that away.
bool MediaFile::indexCoversStream()
{
    const FrameIndex::Packet &last = m_index.packet(m_index.packetCount() - 1);
    // Straight to the last entry, not to the keyframe before it: only what follows is read.
    if (av_seek_frame(m_format.get(), m_stream, last.slot, AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) <
        0)
        return true; // nothing to learn; the index is all there is
    auto packet = ff::makePacket();
    bool covered = true;
    for (int i = 0; i < 4096 && covered && av_read_frame(m_format.get(), packet.get()) >= 0;
         ++i) {
        covered = packet->stream_index != m_stream || packet->size <= 0 ||
            packet->pos <= last.pos;
        av_packet_unref(packet.get());
    }
    return covered;
}

bool MediaFile::scanPackets()
{
    if (!rewind())
        return false;
    AVStream *st = m_format->streams[m_stream];
    const bool allKey = intraOnly(st->codecpar->codec_id);
    std::vector<FrameIndex::Packet> packets;
    auto packet = ff::makePacket();
    int64_t lastSlot = -1;
    while (!stopScanning() && av_read_frame(m_format.get(), packet.get()) >= 0) {
        // A chunk cut off by the end of the file is not a frame.
        const bool whole = !(packet->flags & AV_PKT_FLAG_CORRUPT);
        if (packet->stream_index == m_stream && packet->size > 0 && packet->pos >= 0 && whole) {
            FrameIndex::Packet p;
            p.pos = packet->pos;
            p.size = packet->size;
            int64_t slot = packet->dts;
            if (slot == AV_NOPTS_VALUE || slot <= lastSlot || slot > lastSlot + 1000)
                slot = lastSlot + 1;
            p.slot = int(slot);
            p.keyframe = allKey || (packet->flags & AV_PKT_FLAG_KEY);
            const bool seen = !packets.empty() && packets.back().pos >= p.pos;
            if (!seen && slot < INT32_MAX / 2) {
                packets.push_back(p);
                lastSlot = slot;
            }
        }
        av_packet_unref(packet.get());
    }
    if (packets.empty())
        return false;
    if (!plausibleSlotCount(lastSlot + 1, int(packets.size()))) {
        // Timestamps that leave more gaps than frames are damage, not null frames.
        for (int i = 0; i < int(packets.size()); ++i)
            packets[size_t(i)].slot = i;
        lastSlot = int64_t(packets.size()) - 1;
    }
    // Without an index the demuxer calls every chunk of some codecs a keyframe; for a codec
    // with inter frames that cannot be so, and only the first packet is a safe start.
    const bool everyKey = std::all_of(packets.begin(), packets.end(),
        [](const FrameIndex::Packet &p) { return p.keyframe; });
    if (everyKey && !allKey && packets.size() > 1) {
        for (FrameIndex::Packet &p : packets)
            p.keyframe = false;
    }
    packets.front().keyframe = true;
    // Make the demuxer's own index match, so that seeking by slot lands on these packets.
    for (const FrameIndex::Packet &p : packets) {
        av_add_index_entry(st, p.pos - 8, p.slot, p.size, 0,
            p.keyframe ? AVINDEX_KEYFRAME : 0);
    }
    m_index = FrameIndex(std::move(packets), int(lastSlot + 1));
    return true;
}

// Other containers stamp every packet with its presentation time; position N is the N-th
// picture in that order. Packets the container marks for dropping (before the start of an
// MP4 edit list) are decoded but never shown. One pass over the packets, no decoding.
// An MP4 or MOV has its sample tables in hand once open: a second demuxer over them, for
// which the video payloads cost nothing to read. Null where the file is no such case.
static std::unique_ptr<SkippingDemuxer> openSkippingDemuxer(AVFormatContext *main, int stream,
    const QByteArray &path)
{
    const AVInputFormat *format = main->iformat;
    AVStream *st = main->streams[stream];
    const int entries = avformat_index_get_entries_count(st);
    if (!format || !std::strstr(format->name, "mp4") || entries <= 0 ||
        !scanNeedsNoPayload(st->codecpar->codec_id))
        return nullptr;
    const bool allKey = intraOnly(st->codecpar->codec_id);
    std::vector<std::pair<int64_t, int64_t>> ranges;
    ranges.reserve(size_t(entries));
    int64_t samples = 0;
    for (int i = 0; i < entries; ++i) {
        const AVIndexEntry *e = avformat_index_get_entry(st, i);
        if (e && e->pos >= 0 && e->size > 0 && (allKey || !(e->flags & AVINDEX_KEYFRAME)))
            ranges.emplace_back(e->pos, e->pos + e->size);
        samples += e && e->size > 0 ? 1 : 0;
    }
    std::sort(ranges.begin(), ranges.end());
    std::vector<std::pair<int64_t, int64_t>> merged;
    for (const auto &r : ranges) {
        if (!merged.empty() && r.first <= merged.back().second)
            merged.back().second = std::max(merged.back().second, r.second);
        else
            merged.push_back(r);
    }
    auto demuxer = std::make_unique<SkippingDemuxer>();
    demuxer->samples = samples;
    demuxer->reader = std::make_unique<PayloadSkippingReader>(path, std::move(merged));
    if (!demuxer->reader->good())
        return nullptr;
    constexpr int kBufferSize = 32768;
    auto *buffer = static_cast<unsigned char *>(av_malloc(kBufferSize));
    if (!buffer)
        return nullptr;
    demuxer->io = avio_alloc_context(buffer, kBufferSize, 0, demuxer->reader.get(),
        &PayloadSkippingReader::read, nullptr, &PayloadSkippingReader::seek);
    if (!demuxer->io) {
        av_free(buffer);
        return nullptr;
    }
    AVFormatContext *raw = avformat_alloc_context();
    if (!raw)
        return nullptr;
    raw->pb = demuxer->io;
    raw->flags |= AVFMT_FLAG_CUSTOM_IO;
    if (avformat_open_input(&raw, nullptr, format, nullptr) < 0)
        return nullptr; // freed the context
    demuxer->format.reset(raw);
    if (int(raw->nb_streams) != int(main->nb_streams))
        return nullptr;
    for (unsigned i = 0; i < raw->nb_streams; ++i)
        raw->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return demuxer;
}

void MediaFile::numberPositions(std::vector<FrameIndex::Packet> &packets,
    const std::vector<std::pair<int64_t, int>> &shown)
{
    m_presentation.clear();
    m_presentation.reserve(shown.size());
    for (const auto &[pts, i] : shown) {
        packets[size_t(i)].slot = int(m_presentation.size());
        m_presentation.push_back(pts);
    }
    packets.front().keyframe = true;
    // A keyframe shown before one earlier in the file (or never shown) is no place to start.
    int lastKeySlot = -1;
    for (FrameIndex::Packet &p : packets) {
        if (p.keyframe && &p != &packets.front()) {
            if (p.slot <= lastKeySlot)
                p.keyframe = false;
            else
                lastKeySlot = p.slot;
        }
    }
}

bool MediaFile::scanTimestamps()
{
    AVStream *st = m_format->streams[m_stream];
    // The second demuxer would only repeat what the first said of the file.
    std::optional<QuietHere> quiet(std::in_place);
    const std::unique_ptr<SkippingDemuxer> skipping =
        openSkippingDemuxer(m_format.get(), m_stream, m_localPath);
    if (!skipping)
        quiet.reset();
    const bool allKey = intraOnly(st->codecpar->codec_id);
    std::vector<FrameIndex::Packet> packets;
    std::vector<std::pair<int64_t, int>> shown; // pts, packet
    std::vector<int> idrRuns; // per packet: how many IDR pictures up to it
    const AVCodecParameters *par = st->codecpar;
    const bool h264 = par->codec_id == AV_CODEC_ID_H264;
    const int nalLengthSize = h264 && par->extradata_size >= 7 && par->extradata[0] == 1
        ? (par->extradata[4] & 3) + 1
        : 0;
    const bool guessedTimes = rawStream() &&
        (par->codec_id == AV_CODEC_ID_MPEG1VIDEO || par->codec_id == AV_CODEC_ID_MPEG2VIDEO);
    // The video packets the demuxer gave, repeats included. Packets it calls corrupt (a
    // transport stream's damaged PES length) go to the decoder all the same.
    auto collect = [&](AVFormatContext *fc) {
        packets.clear();
        shown.clear();
        idrRuns.clear();
        int64_t read = 0;
        std::set<std::pair<int64_t, int64_t>> seen; // pos, pts
        // Only where the payloads are read: the skipping demuxer's are zeros.
        SecondFields secondFields(fc == m_format.get() ? st->codecpar : nullptr);
        int64_t gop = 0;
        auto packet = ff::makePacket();
        while (!stopScanning() && av_read_frame(fc, packet.get()) >= 0) {
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            const bool video = packet->stream_index == m_stream && packet->size > 0;
            read += video ? 1 : 0;
            if (video && packet->pos >= 0 && seen.emplace(packet->pos, pts).second) {
                FrameIndex::Packet p;
                p.pos = packet->pos;
                p.size = packet->size;
                p.keyframe = allKey || (packet->flags & AV_PKT_FLAG_KEY);
                p.dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : pts;
                p.pts = pts;
                p.slot = -1;
                const bool second = secondFields.isSecond(packet.get());
                const bool idr = h264 && p.keyframe &&
                    holdsIdr(packet->data, packet->size, nalLengthSize);
                idrRuns.push_back((idrRuns.empty() ? 0 : idrRuns.back()) + (idr ? 1 : 0));
                const int64_t order = guessedTimes
                    ? mpegShowOrder(packet->data, packet->size, &gop)
                    : pts;
                if (order != AV_NOPTS_VALUE && order >= (guessedTimes ? 0 : INT64_MIN) &&
                    !second && !(packet->flags & AV_PKT_FLAG_DISCARD) &&
                    showsPicture(st->codecpar->codec_id, packet->data, packet->size))
                    shown.emplace_back(order, int(packets.size()));
                packets.push_back(p);
            }
            av_packet_unref(packet.get());
            if (packets.size() > size_t(INT32_MAX / 4))
                break;
        }
        return read;
    };
    // Fewer packets than the sample tables list: the zeros misled the demuxer (a damaged
    // file whose samples overlap its boxes). The whole file is read then, as for the rest.
    // There no seek first: the packets probing read are still queued, and a seek to "the
    // start" could land after packets stamped before it (an edit list's pre-roll).
    if (!skipping || collect(skipping->format.get()) < skipping->samples) {
        quiet.reset();
        collect(m_format.get());
    }
    // Pictures at one time (a browser's recording, clips joined) are each shown, in the
    // order they are decoded; no picture is shown across an IDR picture.
    std::stable_sort(shown.begin(), shown.end(), [&](const auto &a, const auto &b) {
        return std::pair(idrRuns[size_t(a.second)], a.first) <
            std::pair(idrRuns[size_t(b.second)], b.first);
    });
    if (shown.empty())
        return false;
    numberPositions(packets, shown);
    const int count = int(m_presentation.size());
    AVRational rate = st->avg_frame_rate;
    const int64_t span = m_presentation.back() - m_presentation.front();
    if ((rate.num <= 0 || rate.den <= 0) && span > 0 && count > 1) {
        // The average over the pictures themselves: (count - 1) intervals over the span.
        av_reduce(&rate.num, &rate.den, int64_t(count - 1) * st->time_base.den,
            span * st->time_base.num, INT32_MAX);
    }
    if (!plausibleRate(rate))
        rate = fallbackRate(st);
    m_info.rateNum = rate.num;
    m_info.rateDen = rate.den;
    m_timeBase = st->time_base;
    m_index = FrameIndex(std::move(packets), count);
    timePositions();
    return true;
}

bool MediaFile::rawStream() const
{
    const AVInputFormat *format = m_format->iformat;
    return format &&
        ((format->flags & AVFMT_NOTIMESTAMPS) || std::strcmp(format->name, "mpegvideo") == 0);
}

void MediaFile::timePositions()
{
    m_info.frameCount = m_index.slotCount();
    m_info.pictureMs.clear();
    m_info.pictureMs.reserve(m_presentation.size());
    // A raw elementary stream has no times of its own, only the demuxer's guesses, which
    // can leave gaps: its pictures follow one another at the frame rate.
    const bool guessed = rawStream();
    const int64_t first = *std::min_element(m_presentation.begin(), m_presentation.end());
    for (size_t i = 0; i < m_presentation.size(); ++i) {
        const int64_t ms = guessed
            ? av_rescale(int64_t(i), 1000ll * m_info.rateDen, m_info.rateNum)
            : av_rescale_q(m_presentation[i] - first, m_timeBase, AVRational{1, 1000});
        // Each position a time of its own, later than the one before, where times repeat
        // or go back.
        m_info.pictureMs.push_back(i == 0 ? ms : std::max<qint64>(ms, m_info.pictureMs.back() + 1));
    }
}

bool MediaFile::dropPositions(const std::vector<int> &packetIndices)
{
    std::vector<FrameIndex::Packet> packets;
    packets.reserve(size_t(m_index.packetCount()));
    for (int i = 0; i < m_index.packetCount(); ++i)
        packets.push_back(m_index.packet(i));
    for (int i : packetIndices)
        packets[size_t(i)].slot = -1;
    std::vector<std::pair<int64_t, int>> shown; // in the order of the positions
    shown.reserve(m_presentation.size());
    for (int i = 0; i < int(packets.size()); ++i) {
        const int slot = packets[size_t(i)].slot;
        if (slot >= 0)
            shown.emplace_back(slot, i);
    }
    if (shown.empty())
        return false;
    std::sort(shown.begin(), shown.end());
    for (auto &[pts, i] : shown)
        pts = m_presentation[size_t(pts)];
    for (FrameIndex::Packet &p : packets)
        p.slot = -1;
    numberPositions(packets, shown);
    const int count = int(shown.size());
    m_index = FrameIndex(std::move(packets), count);
    timePositions();
    return true;
}

namespace {

// A palette the demuxer attached to the packet, if any.
bool takePalette(const AVPacket *packet, std::vector<uint8_t> *palette)
{
    size_t size = 0;
    const uint8_t *data = av_packet_get_side_data(packet, AV_PKT_DATA_PALETTE, &size);
    if (!data || size != AVPALETTE_SIZE)
        return false;
    palette->assign(data, data + size);
    return true;
}

} // namespace

void MediaFile::capturePalette()
{
    // The demuxer attaches it to the first packet it reads and never again, not even after
    // a seek back to the start.
    auto packet = ff::makePacket();
    for (int i = 0; i < 64 && av_read_frame(m_format.get(), packet.get()) >= 0; ++i) {
        const bool video = packet->stream_index == m_stream;
        if (video)
            takePalette(packet.get(), &m_palette);
        av_packet_unref(packet.get());
        if (video)
            break;
    }
}

void MediaFile::findPaletteChanges()
{
    // The demuxer hands a palette change on with the next packet it reads, so a decode that
    // starts after one, by a seek, would never see it. One pass over the packets finds them
    // all (palettised video is small), so that each start gets the palette in effect there.
    if (!rewind())
        return;
    auto packet = ff::makePacket();
    std::vector<uint8_t> pending;
    while (av_read_frame(m_format.get(), packet.get()) >= 0) {
        if (packet->stream_index == m_stream) {
            takePalette(packet.get(), &pending);
            const int i = packet->size > 0 ? m_index.packetAtPos(packet->pos) : -1;
            if (i >= 0 && !pending.empty()) {
                m_paletteChanges[i] = std::move(pending);
                pending.clear();
            }
        }
        av_packet_unref(packet.get());
    }
}

const std::vector<uint8_t> &MediaFile::paletteAt(int packetIndex) const
{
    auto it = m_paletteChanges.upper_bound(packetIndex);
    return it == m_paletteChanges.begin() ? m_palette : std::prev(it)->second;
}

bool MediaFile::rewind()
{
    m_skipBefore = 0;
    int result = -1;
    if (m_byteSeek)
        result = av_seek_frame(m_format.get(), -1, 0, AVSEEK_FLAG_BYTE);
    else if (m_avi || m_index.packetCount() == 0)
        result = av_seek_frame(m_format.get(), m_stream, 0, AVSEEK_FLAG_BACKWARD);
    else
        result = av_seek_frame(m_format.get(), m_stream, m_index.packet(0).dts,
            AVSEEK_FLAG_BACKWARD);
    if (result >= 0)
        return true;
    // Some damaged files cannot seek at all: start reading them afresh.
    QString error;
    m_format.reset();
    if (!openDemuxer(&error))
        return false;
    for (unsigned i = 0; i < m_format->nb_streams; ++i) {
        if (int(i) != m_stream)
            m_format->streams[i]->discard = AVDISCARD_ALL;
    }
    return int(m_format->nb_streams) > m_stream;
}

bool MediaFile::seekToPacket(int packetIndex)
{
    m_rewoundForSkip = false;
    if (packetIndex <= 0)
        return rewind();
    const FrameIndex::Packet &target = m_index.packet(packetIndex);
    int result = -1;
    if (m_avi)
        result = av_seek_frame(m_format.get(), m_stream, target.slot, AVSEEK_FLAG_BACKWARD);
    else if (m_byteSeek) // a transport stream's timestamps give only a rough place
        result = av_seek_frame(m_format.get(), -1, target.pos, AVSEEK_FLAG_BYTE);
    else
        result = av_seek_frame(m_format.get(), m_stream, target.dts, AVSEEK_FLAG_BACKWARD);
    if (result < 0 && !rewind())
        return false;
    m_skipBefore = packetIndex;
    return true;
}

bool MediaFile::readVideoPacket(AVPacket *packet, int *packetIndex)
{
    for (int guard = 0; guard < 1000000; ++guard) {
        av_packet_unref(packet);
        if (av_read_frame(m_format.get(), packet) < 0)
            return false;
        if (packet->stream_index != m_stream || packet->size <= 0)
            continue;
        const int64_t pts = m_avi ? INT64_MIN
            : packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
        const int i = m_index.packetAtPos(packet->pos, pts);
        if (i >= 0) {
            if (i < m_skipBefore)
                continue;
            if (m_skipBefore > 0 && i > m_skipBefore && !m_rewoundForSkip) {
                // The seek went past the packet asked for: read from the beginning instead.
                const int wanted = m_skipBefore;
                if (!rewind())
                    return false;
                m_skipBefore = wanted;
                m_rewoundForSkip = true;
                continue;
            }
            m_rewoundForSkip = false;
            m_skipBefore = 0;
            if (m_avi)
                packet->dts = m_index.packet(i).slot;
        } else if (m_skipBefore > 0) {
            continue;
        }
        if (m_avi)
            packet->pts = AV_NOPTS_VALUE;
        *packetIndex = i;
        return true;
    }
    return false;
}

MediaFile::Identity MediaFile::identityOf(const QByteArray &path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0)
        return {};
    Identity id;
    id.size = qint64(st.st_size);
    id.modifiedSec = qint64(st.st_mtim.tv_sec);
    id.modifiedNsec = qint64(st.st_mtim.tv_nsec);
    return id;
}

bool MediaFile::unchanged() const
{
    const Identity now = identityOf(m_localPath);
    return now.size >= 0 && now.size == m_fileSize && now == m_identity;
}

} // namespace video
