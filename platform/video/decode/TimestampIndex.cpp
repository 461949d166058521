#include "platform/video/decode/TimestampIndex.h"

#include "platform/video/decode/FFmpegLog.h"
#include "platform/video/decode/IndexCache.h"
#include "platform/video/decode/MatroskaWalk.h"
#include "platform/video/decode/ReadAhead.h"
#include "platform/video/decode/ShownPictures.h"
#include "platform/video/decode/SkippingDemuxer.h"
#include "platform/video/decode/TsScan.h"

#include <algorithm>
#include <cstring>
#include <future>
#include <optional>
#include <set>
#include <system_error>

namespace video {

namespace {

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

// One pass over the video packets a demuxer gives, repeats included. Packets it calls corrupt
// (a transport stream's damaged PES length) go to the decoder all the same.
class PacketScan {
public:
    PacketScan(const StreamIndex::Source &source, bool raw)
        : m_source(source), m_par(source.videoStream()->codecpar),
          m_allKey(intraOnly(m_par->codec_id)), m_h264(m_par->codec_id == AV_CODEC_ID_H264),
          m_nalLengthSize(m_h264 && m_par->extradata_size >= 7 && m_par->extradata[0] == 1
                  ? (m_par->extradata[4] & 3) + 1
                  : 0),
          m_guessedTimes(raw &&
              (m_par->codec_id == AV_CODEC_ID_MPEG1VIDEO ||
                  m_par->codec_id == AV_CODEC_ID_MPEG2VIDEO))
    {
    }

    // How many video packets the demuxer gave.
    int64_t collect(AVFormatContext *fc)
    {
        packets.clear();
        shown.clear();
        idrRuns.clear();
        int64_t read = 0;
        std::set<std::pair<int64_t, int64_t>> seen; // pos, pts
        // Only where the payloads are read: the skipping demuxer's are zeros.
        const bool whole = fc == m_source.context();
        SecondFields secondFields(whole ? m_par : nullptr);
        ReadAhead ahead(m_source.localPath, whole ? m_source.fileSize : 0);
        int64_t gop = 0;
        auto packet = ff::makePacket();
        std::unique_ptr<MatroskaWalk> walk = whole ? MatroskaWalk::start(m_source) : nullptr;
        while (!m_source.stopScanning() && av_read_frame(fc, packet.get()) >= 0) {
            ahead.at(packet->pos);
            const int64_t pts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            const bool video = packet->stream_index == m_source.stream && packet->size > 0;
            read += video ? 1 : 0;
            if (video && walk && walk->follow(packet.get())) {
                std::vector<MatroskaWalk::Walked> rest;
                if (walk->walk(ahead, rest)) {
                    for (const MatroskaWalk::Walked &w : rest)
                        add(w.packet, w.packet.pts, w.idr, true);
                    break;
                }
                walk.reset(); // the demuxer goes on from this packet
            }
            if (video && packet->pos >= 0 && seen.emplace(packet->pos, pts).second)
                take(packet.get(), pts, secondFields, &gop);
            av_packet_unref(packet.get());
            if (packets.size() > size_t(INT32_MAX / 4))
                break;
        }
        return read;
    }

    // What the transport stream's own scan found, taken as collect() would have taken it.
    void adopt(TsPictures pictures)
    {
        packets = std::move(pictures.packets);
        for (size_t i = 0; i < packets.size(); ++i) {
            idrRuns.push_back((i ? idrRuns.back() : 0) + (pictures.idr[i] ? 1 : 0));
            shown.emplace_back(packets[i].pts, int(i));
        }
    }

    // Pictures at one time (a browser's recording, clips joined) are each shown, in the
    // order they are decoded; no picture is shown across an IDR picture.
    void sortShown()
    {
        std::stable_sort(shown.begin(), shown.end(), [&](const auto &a, const auto &b) {
            return std::pair(idrRuns[size_t(a.second)], a.first) <
                std::pair(idrRuns[size_t(b.second)], b.first);
        });
    }

    std::vector<FrameIndex::Packet> packets;
    std::vector<std::pair<int64_t, int>> shown; // pts, packet
    std::vector<int> idrRuns; // per packet: how many IDR pictures up to it

private:
    void take(const AVPacket *packet, int64_t pts, SecondFields &secondFields, int64_t *gop)
    {
        FrameIndex::Packet p;
        p.pos = packet->pos;
        p.size = packet->size;
        p.keyframe = m_allKey || (packet->flags & AV_PKT_FLAG_KEY);
        p.dts = packet->dts != AV_NOPTS_VALUE ? packet->dts : pts;
        p.pts = pts;
        p.slot = -1;
        const bool second = secondFields.isSecond(packet);
        const bool idr = m_h264 && p.keyframe &&
            holdsIdr(packet->data, packet->size, m_nalLengthSize);
        const int64_t order = m_guessedTimes
            ? mpegShowOrder(packet->data, packet->size, gop)
            : pts;
        add(p, order, idr,
            !second && !(packet->flags & AV_PKT_FLAG_DISCARD) &&
                showsPicture(m_par->codec_id, packet->data, packet->size));
    }

    void add(const FrameIndex::Packet &p, int64_t order, bool idr, bool shows)
    {
        idrRuns.push_back((idrRuns.empty() ? 0 : idrRuns.back()) + (idr ? 1 : 0));
        if (order != AV_NOPTS_VALUE && order >= (m_guessedTimes ? 0 : INT64_MIN) && shows)
            shown.emplace_back(order, int(packets.size()));
        packets.push_back(p);
    }

    const StreamIndex::Source &m_source;
    const AVCodecParameters *m_par;
    const bool m_allKey;
    const bool m_h264;
    const int m_nalLengthSize;
    const bool m_guessedTimes;
};

// av_rescale_q(a, base, 1/1000) without its general path, for the long loops over an index
// (a two-hour file's 180000 times at every open): the same rounding, to the nearest with
// halves away from zero, wherever the product fits.
int64_t toMs(int64_t a, AVRational base)
{
    const int64_t b = int64_t(base.num) * 1000;
    const int64_t c = base.den;
    if (b <= 0 || c <= 0 || a == INT64_MIN || (a < 0 ? -a : a) > (INT64_MAX - c / 2) / b)
        return av_rescale_q(a, base, AVRational{1, 1000});
    return a < 0 ? -((-a * b + c / 2) / c) : (a * b + c / 2) / c;
}

} // namespace

TimestampIndex::TimestampIndex(const AVInputFormat *format)
    : m_raw(rawStream(format)),
      m_byteSeek(m_raw ||
          (format &&
              (std::strcmp(format->name, "mpegts") == 0 || std::strcmp(format->name, "mpeg") == 0)))
{
}

void TimestampIndex::numberPositions(std::vector<FrameIndex::Packet> &packets,
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

// Other containers stamp every packet with its presentation time; position N is the N-th
// picture in that order. Packets the container marks for dropping (before the start of an
// MP4 edit list) are decoded but never shown. One pass over the packets, no decoding.
bool TimestampIndex::build(const Source &source, VideoInfo &info, FrameIndex &index)
{
    AVStream *st = source.videoStream();
    std::optional<TsPictures> pictures = scanTransportStream(source);
    // The second demuxer would only repeat what the first said of the file.
    std::optional<QuietHere> quiet(std::in_place);
    const std::unique_ptr<SkippingDemuxer> skipping =
        openSkippingDemuxer(source.context(), source.stream, source.localPath);
    if (!skipping)
        quiet.reset();
    PacketScan scan(source, m_raw);
    // Fewer packets than the sample tables list: the zeros misled the demuxer (a damaged
    // file whose samples overlap its boxes). The whole file is read then, as for the rest.
    // There no seek first: the packets probing read are still queued, and a seek to "the
    // start" could land after packets stamped before it (an edit list's pre-roll).
    m_scannedWhole = !skipping || scan.collect(skipping->format.get()) < skipping->samples;
    if (pictures) {
        scan.adopt(std::move(*pictures));
    } else if (m_scannedWhole) {
        quiet.reset();
        scan.collect(source.context());
    }
    scan.sortShown();
    if (scan.shown.empty())
        return false;
    numberPositions(scan.packets, scan.shown);
    const int count = int(m_presentation.size());
    AVRational rate = st->avg_frame_rate;
    const int64_t span = m_presentation.back() - m_presentation.front();
    if ((rate.num <= 0 || rate.den <= 0) && span > 0 && count > 1) {
        // The average over the pictures themselves: (count - 1) intervals over the span.
        av_reduce(&rate.num, &rate.den, int64_t(count - 1) * st->time_base.den,
            span * st->time_base.num, INT32_MAX);
    }
    if (!rates::plausible(rate))
        rate = rates::fallback(st);
    info.rateNum = rate.num;
    info.rateDen = rate.den;
    m_timeBase = st->time_base;
    index = FrameIndex(std::move(scan.packets), count);
    timePositions(info, index);
    checkDecodeOrderTimes(source.videoStream()->codecpar, index);
    return true;
}

// Times in decode order are counted as an AVI's chunks are: the packet's slot as its dts.
void TimestampIndex::restamp(AVPacket *packet, const FrameIndex &index, int packetIndex) const
{
    if (m_decodeOrderTimes)
        packet->dts = packetIndex >= 0 ? index.packet(packetIndex).slot : AV_NOPTS_VALUE;
}

// Where the decoder holds pictures back to reorder them, times that rise packet by packet in
// the file cannot be when the pictures are shown. Only where every packet is a picture: what
// an edit list or hidden pictures leave out is known by time alone.
void TimestampIndex::checkDecodeOrderTimes(const AVCodecParameters *par, const FrameIndex &index)
{
    m_decodeOrderTimes = false;
    if (m_raw || par->video_delay <= 0 || index.packetCount() < 2)
        return;
    for (int i = 0; i < index.packetCount(); ++i) {
        if (index.packet(i).slot != i)
            return;
    }
    m_decodeOrderTimes = true;
}

// What build() found that the file's headers do not say; the rest is derived again.
void TimestampIndex::save(IndexWriter &out, const VideoInfo &info, const FrameIndex &index) const
{
    out.number(uint64_t(info.rateNum));
    out.number(uint64_t(info.rateDen));
    out.number(m_presentation.size());
    int64_t before = 0;
    for (const int64_t pts : m_presentation) {
        out.difference(pts, before);
        before = pts;
    }
    index.save(out);
}

bool TimestampIndex::restore(IndexReader &in, const Source &source, VideoInfo &info,
    FrameIndex &index)
{
    const AVRational rate{int(in.number()), int(in.number())};
    std::vector<int64_t> presentation(size_t(in.count()));
    int64_t before = 0;
    for (int64_t &pts : presentation)
        pts = before = in.difference(before);
    if (!in.ok() || !rates::plausible(rate) || presentation.empty())
        return false;
    // The pictures' times need only their presentation times: for a long file they are worked
    // out on a thread of their own while the packets are read (each about 1.5 and 4 ms for a
    // two-hour file's 180000).
    const AVRational timeBase = source.videoStream()->time_base;
    std::vector<qint64> pictureMs;
    const auto times = [&] {
        pictureMs = positionMs(presentation, timeBase, m_raw, rate.num, rate.den);
    };
    std::future<void> aside;
    if (presentation.size() >= kTimesAside) {
        try {
            aside = std::async(std::launch::async, times);
        } catch (const std::system_error &) {
            // No thread to be had: in turn, below.
        }
    }
    FrameIndex restored;
    const bool loaded = restored.load(in);
    if (aside.valid())
        aside.get();
    else
        times();
    if (!loaded || !in.atEnd() || int(presentation.size()) != restored.slotCount())
        return false;
    m_presentation = std::move(presentation);
    m_timeBase = timeBase;
    info.rateNum = rate.num;
    info.rateDen = rate.den;
    index = std::move(restored);
    info.frameCount = index.slotCount();
    info.pictureMs = std::move(pictureMs);
    checkDecodeOrderTimes(source.videoStream()->codecpar, index);
    return true;
}

void TimestampIndex::timePositions(VideoInfo &info, const FrameIndex &index) const
{
    info.frameCount = index.slotCount();
    info.pictureMs = positionMs(m_presentation, m_timeBase, m_raw, info.rateNum, info.rateDen);
}

std::vector<qint64> TimestampIndex::positionMs(const std::vector<int64_t> &presentation,
    AVRational timeBase, bool guessed, int rateNum, int rateDen)
{
    std::vector<qint64> ms;
    if (presentation.empty())
        return ms;
    ms.reserve(presentation.size());
    // A raw elementary stream has no times of its own, only the demuxer's guesses, which
    // can leave gaps: its pictures follow one another at the frame rate.
    const int64_t first = *std::min_element(presentation.begin(), presentation.end());
    for (size_t i = 0; i < presentation.size(); ++i) {
        const int64_t t = guessed ? av_rescale(int64_t(i), 1000ll * rateDen, rateNum)
                                  : toMs(presentation[i] - first, timeBase);
        // Each position a time of its own, later than the one before, where times repeat
        // or go back.
        ms.push_back(i == 0 ? t : std::max<qint64>(t, ms.back() + 1));
    }
    return ms;
}

bool TimestampIndex::dropPositions(const std::vector<int> &packetIndices, VideoInfo &info,
    FrameIndex &index)
{
    std::vector<FrameIndex::Packet> packets;
    packets.reserve(size_t(index.packetCount()));
    for (int i = 0; i < index.packetCount(); ++i)
        packets.push_back(index.packet(i));
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
    index = FrameIndex(std::move(packets), count);
    timePositions(info, index);
    return true;
}

int TimestampIndex::seekStart(AVFormatContext *fc, int stream, const FrameIndex &index) const
{
    if (m_byteSeek)
        return av_seek_frame(fc, -1, 0, AVSEEK_FLAG_BYTE);
    if (index.packetCount() == 0)
        return av_seek_frame(fc, stream, 0, AVSEEK_FLAG_BACKWARD);
    return av_seek_frame(fc, stream, index.packet(0).dts, AVSEEK_FLAG_BACKWARD);
}

int TimestampIndex::seekTo(AVFormatContext *fc, int stream, const FrameIndex::Packet &target)
    const
{
    if (m_byteSeek) // a transport stream's timestamps give only a rough place
        return av_seek_frame(fc, -1, target.pos, AVSEEK_FLAG_BYTE);
    return av_seek_frame(fc, stream, target.dts, AVSEEK_FLAG_BACKWARD);
}

int64_t TimestampIndex::lookupTime(const AVPacket *packet) const
{
    return packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
}

} // namespace video
