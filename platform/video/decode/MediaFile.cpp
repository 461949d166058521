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
#include <new>
#include <optional>

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
    if (!file->openDemuxer(&message) || !file->chooseStream(choice, choices, &message) ||
        !file->takeVideoStream(&message))
        return fail(message);
    if (!file->buildIndex(cache))
        return fail(OpenError::Why::NoFrames);
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
    if (key) {
        if (const std::optional<QByteArray> kept = IndexCache(cache).load(*key)) {
            IndexReader in(*kept);
            if (m_streamIndex->restore(in, source, m_info, m_index))
                return true;
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
        IndexWriter out;
        m_streamIndex->save(out, m_info, m_index);
        IndexCache(cache).store(*key, out.bytes());
    }
    return true;
}

bool MediaFile::chooseStream(int choice, int *choices, OpenError *error)
{
    if (avformat_find_stream_info(m_format.get(), nullptr) < 0) {
        // Not fatal: the header already told us what the video stream is.
    }
    AVFormatContext *fc = m_format.get();
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
    const int result = m_streamIndex->seekTo(m_format.get(), m_stream, target);
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
