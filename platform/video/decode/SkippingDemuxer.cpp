#include "platform/video/decode/SkippingDemuxer.h"

#include "platform/video/decode/ReadOnlyFile.h"
#include "platform/video/decode/StreamIndex.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace video {

// Reads a file for a demuxer, but serves the listed byte ranges (the video samples' payloads)
// as zeros without reading them: the scan of an MP4 needs only what the sample tables say of
// each packet, and reading the payloads meant reading the whole file. All else (the boxes,
// fragments found later) is read from the file.
class PayloadSkippingReader {
public:
    PayloadSkippingReader(const QByteArray &path, std::vector<std::pair<int64_t, int64_t>> ranges)
        : m_file(path), m_ranges(std::move(ranges))
    {
    }

    bool good() const { return m_file.size() > 0; }

    static int read(void *opaque, uint8_t *buffer, int wanted)
    {
        auto *self = static_cast<PayloadSkippingReader *>(opaque);
        const int64_t at = self->m_offset;
        if (at >= self->m_file.size() || wanted <= 0)
            return AVERROR_EOF;
        // The first range that ends after `at`; ranges are sorted and do not overlap.
        const auto range = std::upper_bound(self->m_ranges.begin(), self->m_ranges.end(), at,
            [](int64_t offset, const auto &r) { return offset < r.second; });
        int64_t count = std::min<int64_t>(wanted, self->m_file.size() - at);
        if (range != self->m_ranges.end() && range->first <= at) {
            count = std::min(count, range->second - at);
            std::memset(buffer, 0, size_t(count));
        } else {
            if (range != self->m_ranges.end())
                count = std::min(count, range->first - at);
            const ssize_t got = ::pread(self->m_file.fd(), buffer, size_t(count), off_t(at));
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
        case AVSEEK_SIZE: return self->m_file.size();
        case SEEK_SET: break;
        case SEEK_CUR: offset += self->m_offset; break;
        case SEEK_END: offset += self->m_file.size(); break;
        default: return AVERROR(EINVAL);
        }
        if (offset < 0)
            return AVERROR(EINVAL);
        self->m_offset = offset;
        return offset;
    }

private:
    ReadOnlyFile m_file;
    int64_t m_offset = 0;
    std::vector<std::pair<int64_t, int64_t>> m_ranges; // [begin, end)
};

SkippingDemuxer::SkippingDemuxer() = default;

SkippingDemuxer::~SkippingDemuxer()
{
    format.reset(); // before the I/O it reads through
    if (io) {
        av_freep(&io->buffer);
        avio_context_free(&io);
    }
}

namespace {

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

} // namespace

std::unique_ptr<SkippingDemuxer> openSkippingDemuxer(AVFormatContext *main, int stream,
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

} // namespace video
