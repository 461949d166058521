#include "platform/video/decode/AviIndex.h"

#include "platform/video/decode/AviExtent.h"
#include "platform/video/decode/IndexCache.h"
#include "platform/video/decode/ReadAhead.h"

#include <QFile>

#include <algorithm>
#include <cstring>

namespace video {

namespace {

// AVI gives the video stream's time base as scale/rate; one tick is one frame slot.
void setRate(VideoInfo &info, const AVStream *st)
{
    AVRational rate{0, 0};
    if (st->time_base.num > 0 && st->time_base.den > 0)
        av_reduce(&rate.num, &rate.den, st->time_base.den, st->time_base.num, INT32_MAX);
    if (!rates::plausible(rate))
        rate = rates::fallback(st);
    info.rateNum = rate.num;
    info.rateDen = rate.den;
}

// Null frames are dropped frames: a few per real one at most. A slot table far larger than
// that comes from damaged timestamps and would only cost memory (one entry per slot).
bool plausibleSlotCount(int64_t slotTotal, int packets)
{
    return slotTotal <= 4 * int64_t(packets) + 1024;
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

bool AviIndex::build(const Source &source, VideoInfo &info, FrameIndex &index)
{
    setRate(info, source.videoStream());
    capturePalette(source);
    const bool indexed = buildFromDemuxer(source, index) && coversStream(source, index);
    m_scannedWhole = !indexed;
    if (!indexed && !scanPackets(source, index))
        return false;
    info.frameCount = index.slotCount();
    if (!m_palette.empty())
        findPaletteChanges(source, index);
    return true;
}

int AviIndex::seekStart(AVFormatContext *fc, int stream, const FrameIndex &) const
{
    return av_seek_frame(fc, stream, 0, AVSEEK_FLAG_BACKWARD);
}

int AviIndex::seekTo(AVFormatContext *fc, int stream, const FrameIndex::Packet &target) const
{
    return av_seek_frame(fc, stream, target.slot, AVSEEK_FLAG_BACKWARD);
}

// The decoder is handed each packet's slot as its dts: an AVI's packets have no times.
void AviIndex::restamp(AVPacket *packet, const FrameIndex &index, int packetIndex) const
{
    if (packetIndex >= 0)
        packet->dts = index.packet(packetIndex).slot;
    packet->pts = AV_NOPTS_VALUE;
}

void AviIndex::claimedSize(const QByteArray &localPath, int64_t *width, int64_t *height) const
{
    avi::claimedSize(localPath, width, height);
}

// The demuxer's index has one entry per non-empty chunk, stamped with its slot; null frames
// are the slots no entry has. Used as it is only when it is sound and covers the stream.
bool AviIndex::buildFromDemuxer(const Source &source, FrameIndex &index)
{
    AVStream *st = source.videoStream();
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
            e->pos + 8 + e->size > source.fileSize || e->size <= 0)
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
    QFile file(source.path);
    const Idx1Count idx1 = file.open(QIODevice::ReadOnly) ? countIdx1(file, source.stream)
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
    index = FrameIndex(std::move(packets), int(slotTotal));
    return true;
}

// A recording that was never finished has no index; what the demuxer has then is what it
// read while probing the start. Frame chunks after the last entry give that away.
bool AviIndex::coversStream(const Source &source, const FrameIndex &index)
{
    const FrameIndex::Packet &last = index.packet(index.packetCount() - 1);
    // Straight to the last entry, not to the keyframe before it: only what follows is read.
    if (av_seek_frame(source.context(), source.stream, last.slot,
            AVSEEK_FLAG_BACKWARD | AVSEEK_FLAG_ANY) < 0)
        return true; // nothing to learn; the index is all there is
    auto packet = ff::makePacket();
    bool covered = true;
    for (int i = 0; i < 4096 && covered && av_read_frame(source.context(), packet.get()) >= 0;
         ++i) {
        covered = packet->stream_index != source.stream || packet->size <= 0 ||
            packet->pos <= last.pos;
        av_packet_unref(packet.get());
    }
    return covered;
}

bool AviIndex::scanPackets(const Source &source, FrameIndex &index)
{
    if (!source.rewind())
        return false;
    AVStream *st = source.videoStream();
    const bool allKey = intraOnly(st->codecpar->codec_id);
    std::vector<FrameIndex::Packet> packets;
    auto packet = ff::makePacket();
    int64_t lastSlot = -1;
    ReadAhead ahead(source.localPath, source.fileSize);
    while (!source.stopScanning() && av_read_frame(source.context(), packet.get()) >= 0) {
        ahead.at(packet->pos);
        // A chunk cut off by the end of the file is not a frame.
        const bool whole = !(packet->flags & AV_PKT_FLAG_CORRUPT);
        if (packet->stream_index == source.stream && packet->size > 0 && packet->pos >= 0 &&
            whole) {
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
    index = FrameIndex(std::move(packets), int(lastSlot + 1));
    indexDemuxer(source, index);
    return true;
}

// Makes the demuxer's own index match, so that seeking by slot lands on these packets.
void AviIndex::indexDemuxer(const Source &source, const FrameIndex &index)
{
    for (int i = 0; i < index.packetCount(); ++i) {
        const FrameIndex::Packet &p = index.packet(i);
        av_add_index_entry(source.videoStream(), p.pos - 8, p.slot, p.size, 0,
            p.keyframe ? AVINDEX_KEYFRAME : 0);
    }
}

// The scan's packets and the palettes; the rate comes from the header again.
void AviIndex::save(IndexWriter &out, const VideoInfo &, const FrameIndex &index) const
{
    const auto bytes = [](const std::vector<uint8_t> &palette) {
        return QByteArray(
            reinterpret_cast<const char *>(palette.data()), qsizetype(palette.size()));
    };
    index.save(out);
    out.raw(bytes(m_palette));
    out.number(m_paletteChanges.size());
    for (const auto &[packet, palette] : m_paletteChanges) {
        out.number(uint64_t(packet));
        out.raw(bytes(palette));
    }
}

bool AviIndex::restore(IndexReader &in, const Source &source, VideoInfo &info, FrameIndex &index)
{
    FrameIndex restored;
    if (!restored.load(in))
        return false;
    const auto palette = [&in] {
        const QByteArray bytes = in.raw();
        if (!bytes.isEmpty() && bytes.size() != AVPALETTE_SIZE)
            in.fail();
        return std::vector<uint8_t>(bytes.begin(), bytes.end());
    };
    std::vector<uint8_t> first = palette();
    std::map<int, std::vector<uint8_t>> changes;
    for (int n = in.count(); n > 0 && in.ok(); --n) {
        const uint64_t packet = in.number();
        if (packet >= uint64_t(restored.packetCount()))
            in.fail();
        changes[int(packet)] = palette();
    }
    // The scan numbers its packets' slots in file order, each after the one before.
    for (int i = 1; i < restored.packetCount() && in.ok(); ++i) {
        if (restored.packet(i).slot <= restored.packet(i - 1).slot)
            in.fail();
    }
    if (!in.ok() || !in.atEnd() || restored.packet(0).slot < 0)
        return false;
    setRate(info, source.videoStream());
    m_palette = std::move(first);
    m_paletteChanges = std::move(changes);
    index = std::move(restored);
    info.frameCount = index.slotCount();
    indexDemuxer(source, index);
    return true;
}

void AviIndex::capturePalette(const Source &source)
{
    // The demuxer attaches it to the first packet it reads and never again, not even after
    // a seek back to the start.
    auto packet = ff::makePacket();
    for (int i = 0; i < 64 && av_read_frame(source.context(), packet.get()) >= 0; ++i) {
        const bool video = packet->stream_index == source.stream;
        if (video)
            takePalette(packet.get(), &m_palette);
        av_packet_unref(packet.get());
        if (video)
            break;
    }
}

void AviIndex::findPaletteChanges(const Source &source, const FrameIndex &index)
{
    // The demuxer hands a palette change on with the next packet it reads, so a decode that
    // starts after one, by a seek, would never see it. One pass over the packets finds them
    // all (palettised video is small), so that each start gets the palette in effect there.
    if (!source.rewind())
        return;
    auto packet = ff::makePacket();
    std::vector<uint8_t> pending;
    while (av_read_frame(source.context(), packet.get()) >= 0) {
        if (packet->stream_index == source.stream) {
            takePalette(packet.get(), &pending);
            const int i = packet->size > 0 ? index.packetAtPos(packet->pos) : -1;
            if (i >= 0 && !pending.empty()) {
                m_paletteChanges[i] = std::move(pending);
                pending.clear();
            }
        }
        av_packet_unref(packet.get());
    }
}

const std::vector<uint8_t> &AviIndex::paletteAt(int packetIndex) const
{
    auto it = m_paletteChanges.upper_bound(packetIndex);
    return it == m_paletteChanges.begin() ? m_palette : std::prev(it)->second;
}

} // namespace video
