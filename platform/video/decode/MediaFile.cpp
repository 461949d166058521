#include "platform/video/decode/MediaFile.h"

#include "platform/video/decode/Container.h"
#include "platform/video/decode/IndexCache.h"

extern "C" {
#include <libavutil/display.h>
}

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <optional>
#include <type_traits>

namespace video {

namespace {

// Why a name is no file to open, or empty when it is one. A folder, a device, a named pipe
// or a link that leads nowhere was found all the same: "not found" would mislead.
OpenError::Why notARegularFile(const QString &path)
{
    using Why = OpenError::Why;
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        switch (errno) {
        case ELOOP: return Why::LinkLoop;
        case ENAMETOOLONG: return Why::NameTooLong;
        case EACCES: return Why::Unreadable;
        default: return Why::NotFound;
        }
    }
    if (S_ISDIR(st.st_mode))
        return Why::Folder;
    if (!S_ISREG(st.st_mode))
        return Why::NotRegularFile;
    return Why::None;
}

// Every field of a stream's parameters that a decoder is opened with or the open reads, but
// the bit rate, which a read may change without meaning anything to a decoder.
template <typename Parameters, typename Visit>
void eachParameter(Parameters *par, Visit visit)
{
    visit(par->codec_type);
    visit(par->codec_id);
    visit(par->codec_tag);
    visit(par->format);
    visit(par->bits_per_coded_sample);
    visit(par->bits_per_raw_sample);
    visit(par->profile);
    visit(par->level);
    visit(par->width);
    visit(par->height);
    visit(par->sample_aspect_ratio.num);
    visit(par->sample_aspect_ratio.den);
    visit(par->field_order);
    visit(par->color_range);
    visit(par->color_primaries);
    visit(par->color_trc);
    visit(par->color_space);
    visit(par->chroma_location);
    visit(par->video_delay);
}

QByteArray parameterBytes(const AVCodecParameters *par)
{
    IndexWriter out;
    eachParameter(par, [&](const auto &field) { out.signedNumber(int64_t(field)); });
    out.raw(QByteArray(reinterpret_cast<const char *>(par->extradata),
        par->extradata ? par->extradata_size : 0));
    return out.bytes();
}

struct ParametersFreer {
    void operator()(AVCodecParameters *par) const { avcodec_parameters_free(&par); }
};
using ParametersPtr = std::unique_ptr<AVCodecParameters, ParametersFreer>;

ParametersPtr copyOf(const AVCodecParameters *par)
{
    ParametersPtr copy(avcodec_parameters_alloc());
    return copy && avcodec_parameters_copy(copy.get(), par) >= 0 ? std::move(copy) : nullptr;
}

// The parameters parameterBytes() wrote over `par`'s; null where the bytes are none.
ParametersPtr parametersFrom(const QByteArray &bytes, const AVCodecParameters *par)
{
    ParametersPtr made = copyOf(par);
    if (!made)
        return nullptr;
    IndexReader in(bytes);
    eachParameter(made.get(), [&](auto &field) {
        const int64_t value = in.signedNumber();
        using Field = std::remove_reference_t<decltype(field)>;
        using Number = typename std::conditional_t<std::is_enum_v<Field>,
            std::underlying_type<Field>, std::type_identity<Field>>::type;
        if (value < int64_t(std::numeric_limits<Number>::min()) ||
            value > int64_t(std::numeric_limits<Number>::max()))
            in.fail();
        field = Field(value);
    });
    const QByteArray extradata = in.raw();
    if (!in.ok() || !in.atEnd())
        return nullptr;
    av_freep(&made->extradata);
    made->extradata_size = 0;
    if (!extradata.isEmpty()) {
        made->extradata = static_cast<uint8_t *>(
            av_mallocz(size_t(extradata.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
        if (!made->extradata)
            return nullptr;
        std::memcpy(made->extradata, extradata.constData(), size_t(extradata.size()));
        made->extradata_size = int(extradata.size());
    }
    return made;
}

// What an entry says before its index: how many streams the header named; the video stream's
// parameters as the header gave them (an entry whose header differs is another file's) and as
// the open went on to decode with them; and, where the open that made the entry learnt it,
// which packets of the lead-in show nothing; and the seek points the demuxer learnt from
// the scan, which a Matroska file without cues knows no other way: without them its first
// seek far in reads every cluster up to there.
struct KeptHead {
    unsigned streams = 0;
    QByteArray header;
    QByteArray used;
    std::optional<std::vector<int>> silentLeadIn;
    std::vector<MediaFile::SeekPoint> seekPoints;

    void writeSeekPoints(IndexWriter &out) const
    {
        out.number(seekPoints.size());
        MediaFile::SeekPoint before;
        for (const MediaFile::SeekPoint &p : seekPoints) {
            out.difference(p.pos, before.pos);
            out.difference(p.time, before.time);
            before = p;
        }
    }

    void readSeekPoints(IndexReader &in)
    {
        seekPoints.assign(size_t(in.count(2)), MediaFile::SeekPoint{});
        MediaFile::SeekPoint before;
        for (MediaFile::SeekPoint &p : seekPoints) {
            p.pos = in.difference(before.pos);
            p.time = in.difference(before.time);
            if (p.pos < 0)
                in.fail();
            before = p;
        }
    }

    void write(IndexWriter &out) const
    {
        out.number(streams);
        out.raw(header);
        out.raw(used);
        writeSeekPoints(out);
        out.number(silentLeadIn ? 1 : 0);
        if (!silentLeadIn)
            return;
        out.number(silentLeadIn->size());
        int before = 0;
        for (const int packet : *silentLeadIn) {
            out.difference(packet, before);
            before = packet;
        }
    }

    bool read(IndexReader &in)
    {
        streams = unsigned(in.number());
        header = in.raw();
        used = in.raw();
        readSeekPoints(in);
        silentLeadIn.reset();
        const uint64_t known = in.number();
        if (known == 1) {
            silentLeadIn.emplace(size_t(in.count()));
            int64_t before = 0;
            for (int &packet : *silentLeadIn) {
                before = in.difference(before);
                if (before < 0 || before > INT32_MAX)
                    in.fail();
                packet = int(before);
            }
        }
        return in.ok() && known <= 1 && !used.isEmpty();
    }
};

} // namespace

std::unique_ptr<MediaFile> MediaFile::open(const QString &path, OpenError *error, int choice,
    int *choices, const std::atomic<bool> *cancelled, const DecodeOptions &options)
{
    static const std::atomic<bool> never{false};
    int found = 0;
    std::unique_ptr<MediaFile> file;
    OpenError message;
    try {
        file = openHere(path, &message, cancelled ? *cancelled : never, choice, &found,
            options.indexCache);
    } catch (const std::bad_alloc &) {
        file.reset();
        message = OpenError::Why::OutOfMemory;
    }
    if (file && options.afterIndex)
        options.afterIndex();
    if (choices)
        *choices = found;
    if (!file && error)
        *error = message;
    return file;
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

std::unique_ptr<MediaFile> MediaFile::openHere(const QString &path, OpenError *error,
    const std::atomic<bool> &cancelled, int choice, int *choices, const QString &cache)
{
    auto fail = [error](const OpenError &message) {
        if (error)
            *error = message;
        return nullptr;
    };
    const QFileInfo fileInfo(path);
    if (const OpenError::Why why = notARegularFile(path); why != OpenError::Why::None)
        return fail(why);
    if (!fileInfo.isReadable())
        return fail(OpenError::Why::Unreadable);
    if (fileInfo.size() == 0)
        return fail(OpenError::Why::Empty);

    std::unique_ptr<MediaFile> file(new MediaFile);
    file->m_path = path;
    file->m_fileSize = fileInfo.size();
    file->m_localPath = QFile::encodeName(path);
    file->m_identity = identityOf(file->m_localPath);
    file->m_cancelled = &cancelled;
    OpenError message;
    if (!file->openDemuxer(&message))
        return fail(message);
    if (!file->openKept(cache, choice, choices)) {
        if (!file->chooseStream(choice, choices, &message) || !file->takeVideoStream(&message))
            return fail(message);
        if (!file->buildIndex(cache))
            return fail(OpenError::Why::NoFrames);
    }
    if (file->stopScanning())
        return fail(OpenError::Why::Cancelled);
    if (!file->rewind())
        return fail(OpenError::Why::Damaged);
    file->m_cancelled = nullptr;
    return file;
}

// From the cache where it holds this file's index, else built; a scan of the whole file is
// kept there for the next open once the file has proved the same all through it.
bool MediaFile::buildIndex(const QString &cache)
{
    const StreamIndex::Source source = indexSource();
    const std::optional<IndexCache::Key> key =
        cache.isEmpty() ? std::nullopt : IndexCache::keyOf(m_localPath, m_stream);
    KeptHead head;
    if (key) {
        if (const std::optional<QByteArray> kept = IndexCache(cache).load(*key)) {
            IndexReader in(*kept);
            if (head.read(in) && head.streams == m_format->nb_streams &&
                head.header == headerParameters() &&
                m_streamIndex->restore(in, source, m_info, m_index)) {
                m_keptLeadIn = head.silentLeadIn;
                learnSeekPoints(head.seekPoints);
                return true;
            }
        }
    }
    if (!m_streamIndex->build(source, m_info, m_index))
        return false;
    // Kept only where the file stayed the one opened from before its demuxer to now.
    const bool same = key && key->size == m_identity.size &&
        key->modifiedSec == m_identity.modifiedSec &&
        key->modifiedNsec == m_identity.modifiedNsec &&
        IndexCache::keyOf(m_localPath, m_stream) == key;
    if (same && m_streamIndex->scannedWhole() && !stopScanning()) {
        Unfinished entry{cache, *key, parameterBytes(codecParameters()), {}, seekPoints()};
        IndexWriter index;
        m_streamIndex->save(index, m_info, m_index);
        entry.index = index.bytes();
        storeKept(entry, std::nullopt);
        m_unfinished = std::move(entry);
    }
    return true;
}

// Only a Matroska file's: other demuxers either find their own again at open (an AVI's index,
// an MP4's tables) or seek by bytes (a transport stream).
std::vector<MediaFile::SeekPoint> MediaFile::seekPoints() const
{
    std::vector<SeekPoint> points;
    if (std::strncmp(m_format->iformat->name, "matroska", 8) != 0)
        return points;
    AVStream *st = m_format->streams[m_stream];
    const int count = avformat_index_get_entries_count(st);
    points.reserve(size_t(std::max(0, count)));
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry *e = avformat_index_get_entry(st, i);
        if (e && (e->flags & AVINDEX_KEYFRAME))
            points.push_back({e->pos, e->timestamp});
    }
    return points;
}

void MediaFile::learnSeekPoints(const std::vector<SeekPoint> &points)
{
    AVStream *st = m_format->streams[m_stream];
    for (const SeekPoint &p : points)
        av_add_index_entry(st, p.pos, p.time, 0, 0, AVINDEX_KEYFRAME);
}

QByteArray MediaFile::headerParameters() const
{
    // A transport stream's probe may find streams its header did not name.
    return size_t(m_stream) < m_headerParameters.size() ? m_headerParameters[size_t(m_stream)]
                                                        : QByteArray();
}

void MediaFile::storeKept(const Unfinished &entry,
    const std::optional<std::vector<int>> &silentLeadIn) const
{
    IndexWriter out;
    KeptHead{m_format->nb_streams, headerParameters(), entry.parameters, silentLeadIn,
        entry.seekPoints}
        .write(out);
    IndexCache(entry.cache).store(entry.key, out.bytes() + entry.index);
}

void MediaFile::keepLeadIn(const std::optional<std::vector<int>> &silent)
{
    // Only the open that made the entry, and only while the file is still the one it read.
    if (m_unfinished && silent && unchanged() &&
        IndexCache::keyOf(m_localPath, m_stream) == m_unfinished->key)
        storeKept(*m_unfinished, silent);
    m_unfinished.reset();
}

// The open of a file whose index the cache keeps, without the stream probe: to guess the
// decoder's delay, libavformat decodes up to seven pictures (10 to 40 ms at 1080p), which is
// what the entry says, with the pixel format and the field order. Only where the header names
// everything else, a Matroska file's (a transport stream's gives no sizes, and may name its
// streams only as they come), with one video stream, which is then the one chosen with or
// without the probe's counts. False, with the demuxer as it was opened, where the entry does
// not serve so.
bool MediaFile::openKept(const QString &cache, int choice, int *choices)
{
    AVFormatContext *fc = m_format.get();
    if (cache.isEmpty() || choice != 0 || std::strncmp(fc->iformat->name, "matroska", 8) != 0)
        return false;
    int video = -1;
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        const AVStream *st = fc->streams[i];
        if (st->codecpar->codec_type != AVMEDIA_TYPE_VIDEO ||
            (st->disposition & AV_DISPOSITION_ATTACHED_PIC))
            continue;
        if (video >= 0)
            return false;
        video = int(i);
    }
    const std::optional<IndexCache::Key> key =
        video >= 0 ? IndexCache::keyOf(m_localPath, video) : std::nullopt;
    const std::optional<QByteArray> kept =
        key ? IndexCache(cache).load(*key) : std::nullopt;
    if (!kept)
        return false;
    IndexReader in(*kept);
    AVCodecParameters *par = fc->streams[video]->codecpar;
    m_headerParameters.assign(fc->nb_streams, QByteArray());
    m_headerParameters[size_t(video)] = parameterBytes(par);
    KeptHead head;
    const bool same = head.read(in) && head.streams == fc->nb_streams &&
        head.header == m_headerParameters[size_t(video)];
    const ParametersPtr header = same ? copyOf(par) : nullptr;
    const ParametersPtr probed = header ? parametersFrom(head.used, par) : nullptr;
    if (!probed || avcodec_parameters_copy(par, probed.get()) < 0)
        return false;
    OpenError ignored;
    if (chooseStream(choice, choices, &ignored, false) && m_stream == video &&
        takeVideoStream(&ignored) && m_streamIndex->restore(in, indexSource(), m_info, m_index)) {
        m_untouched = true;
        m_keptLeadIn = head.silentLeadIn;
        learnSeekPoints(head.seekPoints);
        return true;
    }
    // As the demuxer opened it, for the probe.
    avcodec_parameters_copy(par, header.get());
    for (unsigned i = 0; i < fc->nb_streams; ++i)
        fc->streams[i]->discard = AVDISCARD_DEFAULT;
    m_info = VideoInfo{};
    m_clockwise = 0;
    return false;
}

bool MediaFile::chooseStream(int choice, int *choices, OpenError *error, bool probe)
{
    AVFormatContext *fc = m_format.get();
    if (probe) {
        m_headerParameters.clear();
        for (unsigned i = 0; i < fc->nb_streams; ++i)
            m_headerParameters.push_back(parameterBytes(fc->streams[i]->codecpar));
        if (avformat_find_stream_info(fc, nullptr) < 0) {
            // Not fatal: the header already told us what the video stream is.
        }
    }
    const std::vector<int> videos = videoStreams(fc);
    *choices = int(videos.size());
    if (choice < 0 || choice >= int(videos.size())) {
        *error = OpenError::Why::NoVideoStream;
        return false;
    }
    m_stream = videos[size_t(choice)];
    m_info.streamId = fc->streams[m_stream]->id;
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        if (fc->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO)
            m_info.hasAudio = true;
    }
    // Only the video stream is read here; the sound has a reader of its own.
    for (unsigned i = 0; i < fc->nb_streams; ++i) {
        if (int(i) != m_stream)
            fc->streams[i]->discard = AVDISCARD_ALL;
    }
    return true;
}

bool MediaFile::takeVideoStream(OpenError *error)
{
    AVStream *st = m_format->streams[m_stream];
    const AVCodecParameters *par = st->codecpar;
    if (par->width <= 0 || par->height <= 0 || par->width > kMaxSide ||
        par->height > kMaxSide) {
        // The demuxer leaves a size it refuses at 0×0: what the header claims says more.
        int64_t width = par->width;
        int64_t height = par->height;
        if (width == 0 && height == 0)
            m_streamIndex->claimedSize(m_localPath, &width, &height);
        *error = OpenError::Why::SizeUnsupported;
        error->width = width;
        error->height = height;
        return false;
    }
    if (!avcodec_find_decoder(par->codec_id)) {
        const char *name = avcodec_get_name(par->codec_id);
        *error = OpenError::Why::CodecUnsupported;
        error->codec = QString::fromLatin1(name ? name : "?");
        return false;
    }
    m_info.width = m_decodedWidth = par->width;
    m_info.height = m_decodedHeight = par->height;
    // An AVI's headers have no display matrix worth trusting, nor its pictures a turn.
    const bool turns = m_streamIndex->presentsByTime();
    const uint8_t *matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (matrix && turns)
        turnBy(reinterpret_cast<const int32_t *>(matrix));
    m_rotationKnown = matrix || !turns;
    return true;
}

StreamIndex::Source MediaFile::indexSource()
{
    StreamIndex::Source source;
    source.format = &m_format;
    source.stream = m_stream;
    source.path = m_path;
    source.localPath = m_localPath;
    source.fileSize = m_fileSize;
    source.cancelled = m_cancelled;
    source.rewind = [this] { return rewind(); };
    return source;
}

bool MediaFile::openDemuxer(OpenError *error)
{
    int code = 0;
    m_format = container::open(m_path, &code, m_cancelled);
    if (!m_format) {
        using Why = OpenError::Why;
        *error = code == AVERROR(EMFILE) || code == AVERROR(ENFILE) ? Why::TooManyFilesOpen
            : code == AVERROR(ENOMEM)                                ? Why::OutOfMemory
            : code == AVERROR(EACCES)                                ? Why::Unreadable
                                                                     : Why::NotVideo;
        return false;
    }
    // Neither a text nor a picture is a video.
    if (container::isText(m_format.get()) || container::isStillPicture(m_format.get())) {
        *error = OpenError::Why::NotVideo;
        return false;
    }
    if (!m_streamIndex) // not again when a rewind opens the demuxer afresh
        m_streamIndex = StreamIndex::forFormat(m_format->iformat);
    return true;
}

const AVCodecParameters *MediaFile::codecParameters() const
{
    return m_format->streams[m_stream]->codecpar;
}

bool MediaFile::rewind()
{
    m_skipBefore = 0;
    // Matroska seeks by the keyframes it has read: none yet.
    if (m_untouched)
        return true;
    if (m_streamIndex->seekStart(m_format.get(), m_stream, m_index) >= 0)
        return true;
    // Some damaged files cannot seek at all: start reading them afresh.
    OpenError error;
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
    FrameIndex::Packet target = m_index.packet(packetIndex);
    // Matroska's cues and MP4's sample table find a keyframe by its presentation time: by its
    // dts, below that wherever B-frames follow it, a backward seek lands a whole GOP early
    // and every packet of that GOP is read only to be dropped (up to 10 ms a seek at 1080p,
    // more off the disk). Should the later time land past the packet, the read below starts
    // again from the beginning.
    if (presentsByTime() && target.pts != AV_NOPTS_VALUE && target.pts > target.dts)
        target.dts = target.pts;
    m_untouched = false;
    const int result = m_streamIndex->seekTo(m_format.get(), m_stream, target);
    if (result < 0 && !rewind())
        return false;
    m_skipBefore = packetIndex;
    return true;
}

bool MediaFile::readVideoPacket(AVPacket *packet, int *packetIndex)
{
    m_untouched = false;
    for (int guard = 0; guard < 1000000; ++guard) {
        av_packet_unref(packet);
        if (av_read_frame(m_format.get(), packet) < 0)
            return false;
        if (packet->stream_index != m_stream || packet->size <= 0)
            continue;
        const int i = m_index.packetAtPos(packet->pos, m_streamIndex->lookupTime(packet));
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
        } else if (m_skipBefore > 0) {
            continue;
        }
        m_streamIndex->restamp(packet, m_index, i);
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
