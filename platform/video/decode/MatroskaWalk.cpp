#include "platform/video/decode/MatroskaWalk.h"

#include "platform/video/decode/RbspBits.h"

#include "platform/video/decode/ReadAhead.h"
#include "platform/video/decode/ReadOnlyFile.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace video {

// Reads what the walk asks for with pread: a piece around each block's header, so that a
// block's payload is never read past its first bytes.
class ClusterReader {
public:
    explicit ClusterReader(const QByteArray &path) : m_file(path) {}

    int64_t size() const { return m_file.size(); }

    // `n` bytes at `pos`, fewer at the end of the file (`*got`); null where none are there.
    const uint8_t *at(int64_t pos, int n, int *got)
    {
        if (pos >= m_start && pos + n <= m_start + m_length) {
            *got = n;
            return m_buffer.data() + (pos - m_start);
        }
        const int want = std::max(n, kPiece);
        if (int(m_buffer.size()) < want)
            m_buffer.resize(size_t(want));
        int length = 0;
        while (length < want) {
            const ssize_t r = ::pread(m_file.fd(), m_buffer.data() + length,
                size_t(want - length), off_t(pos + length));
            if (r <= 0)
                break;
            length += int(r);
        }
        m_start = length > 0 ? pos : -1;
        m_length = length;
        *got = std::min(n, length);
        return length > 0 ? m_buffer.data() : nullptr;
    }

private:
    static constexpr int kPiece = 512;
    ReadOnlyFile m_file;
    std::vector<uint8_t> m_buffer;
    int64_t m_start = -1;
    int m_length = 0;
};

namespace {

constexpr uint32_t kEbml = 0x1A45DFA3, kSegment = 0x18538067, kCluster = 0x1F43B675,
                   kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7, kTrackType = 0x83,
                   kCodecId = 0x86, kContentEncodings = 0x6D80, kTrackTimeScale = 0x23314F,
                   kCodecDelay = 0x56AA, kClusterTime = 0xE7, kSimpleBlock = 0xA3,
                   kBlockGroup = 0xA0, kBlock = 0xA1, kReferenceBlock = 0xFB;

// Elements the walk passes over without a look: the segment's own, a cluster's and a block
// group's that change nothing the demuxer returns.
bool passedTopLevel(uint32_t id)
{
    switch (id) {
    case 0x114D9B74: // SeekHead
    case 0x1549A966: // Info
    case 0x1654AE6B: // Tracks
    case 0x1C53BB6B: // Cues
    case 0x1043A770: // Chapters
    case 0x1941A469: // Attachments
    case 0x1254C367: // Tags
    case 0xEC: // Void
    case 0xBF: // CRC-32
        return true;
    default: return false;
    }
}

bool passedInCluster(uint32_t id)
{
    return id == 0xA7 || id == 0xAB || id == 0xEC || id == 0xBF || id == 0x5854;
}

bool passedInGroup(uint32_t id)
{
    switch (id) {
    case 0x9B: // BlockDuration
    case 0xFA: // ReferencePriority
    case 0x75A1: // BlockAdditions
    case 0x75A2: // DiscardPadding
    case 0xA4: // CodecState
    case 0x8E: // Slices
    case 0xEC:
    case 0xBF:
        return true;
    default: return false;
    }
}

// An element's header at `d` (`avail` bytes), read as the demuxer does; false where it is
// none (a length beyond what EBML allows).
template <typename Element>
bool readHeader(const uint8_t *d, int avail, int64_t pos, Element *e)
{
    if (avail < 1 || d[0] == 0)
        return false;
    const int idLength = __builtin_clz(uint32_t(d[0]) << 24) + 1;
    if (idLength > 4 || avail < idLength + 1 || d[idLength] == 0)
        return false;
    e->id = 0;
    for (int i = 0; i < idLength; ++i)
        e->id = e->id << 8 | d[i];
    const int sizeLength = __builtin_clz(uint32_t(d[idLength]) << 24) + 1;
    if (avail < idLength + sizeLength)
        return false;
    uint64_t size = d[idLength] & (0xffu >> sizeLength);
    bool allOnes = size == (0xffu >> sizeLength);
    for (int i = 1; i < sizeLength; ++i) {
        size = size << 8 | d[idLength + i];
        allOnes = allOnes && d[idLength + i] == 0xff;
    }
    e->start = pos;
    e->data = pos + idLength + sizeLength;
    e->size = allOnes ? -1 : int64_t(std::min<uint64_t>(size, uint64_t(INT64_MAX / 4)));
    return true;
}

uint64_t readUnsigned(const uint8_t *d, int64_t size)
{
    uint64_t v = 0;
    for (int64_t i = 0; i < size; ++i)
        v = v << 8 | d[i];
    return v;
}

// A NAL unit's payload without its emulation prevention bytes.
std::vector<uint8_t> unescaped(const uint8_t *d, int size)
{
    std::vector<uint8_t> out;
    out.reserve(size_t(size));
    for (int i = 0; i < size; ++i) {
        if (i + 2 < size && d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 3) {
            out.push_back(0);
            out.push_back(0);
            i += 2;
            continue;
        }
        out.push_back(d[i]);
    }
    return out;
}

// Where the parser would find a start code inside a unit and read on from there.
bool holdsStartCode(const uint8_t *d, int size)
{
    for (int i = 0; i + 2 < size; ++i) {
        if (d[i] == 0 && d[i + 1] == 0 && (d[i + 2] == 1 || d[i + 2] == 2))
            return true;
    }
    return false;
}

// A block's track number, -1 where it is none.
int64_t trackOf(const uint8_t *d, int avail)
{
    if (avail < 1 || d[0] == 0)
        return -1;
    const int length = __builtin_clz(uint32_t(d[0]) << 24) + 1;
    if (length > 4 || avail < length)
        return -1;
    int64_t track = d[0] & (0xffu >> length);
    for (int i = 1; i < length; ++i)
        track = track << 8 | d[i];
    return track;
}

// Supplemental information without a recovery point, which would make a keyframe of whatever
// follows: that is left to the parser, as a message it might read otherwise than we do.
// False also where the messages run past their unit.
bool plainMessages(const std::vector<uint8_t> &rbsp)
{
    size_t i = 0;
    while ((rbsp.size() - i) * 8 > 16 && rbsp[i] != 0x80) {
        uint32_t kind = 0, bytes = 0;
        do {
            if (i >= rbsp.size())
                return false;
            kind += rbsp[i];
        } while (rbsp[i++] == 255);
        do {
            if (i >= rbsp.size())
                return false;
            bytes += rbsp[i];
        } while (rbsp[i++] == 255);
        if (kind == 6 || bytes > rbsp.size() - i)
            return false;
        i += bytes;
    }
    return true;
}

} // namespace

bool MatroskaWalk::AvcParser::readExtradata(const uint8_t *d, int size)
{
    m_spsRefs.fill(-1);
    m_pps.fill({-1, 0});
    if (size < 7 || d[0] != 1)
        return false;
    m_lengthSize = (d[4] & 3) + 1;
    int at = 5;
    for (int set = 0; set < 2; ++set) {
        if (at >= size)
            return false;
        const int count = set == 0 ? d[at] & 0x1f : d[at];
        ++at;
        for (int i = 0; i < count; ++i) {
            if (at + 2 > size)
                return false;
            const int length = d[at] << 8 | d[at + 1];
            at += 2;
            if (length < 1 || at + length > size)
                return false;
            const std::vector<uint8_t> rbsp = unescaped(d + at + 1, length - 1);
            if (set == 0)
                readSps(rbsp.data(), int(rbsp.size()));
            else
                readPps(rbsp.data(), int(rbsp.size()));
            at += length;
        }
    }
    return true;
}

// Only as far as the count of reference frames, which with the picture parameters decides
// whether the parser calls a lone I picture a keyframe. Anything unusual leaves it unknown.
void MatroskaWalk::AvcParser::readSps(const uint8_t *rbsp, int size)
{
    RbspBits b(rbsp, size);
    const uint32_t profile = b.bits(8);
    b.bits(16);
    const int64_t id = b.ue();
    if (id < 0 || id >= 32)
        return;
    m_spsRefs[size_t(id)] = -1;
    // A sequence parameter set sent again may have changed, and the parser then drops the
    // picture parameter sets that refer to it: they are unknown here until sent again.
    for (auto &pps : m_pps) {
        if (pps.first == int(id))
            pps.first = -1;
    }
    static constexpr uint32_t kHigh[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139,
        134, 135, 144};
    if (std::find(std::begin(kHigh), std::end(kHigh), profile) != std::end(kHigh)) {
        const int64_t chroma = b.ue();
        if (chroma < 0 || chroma > 3)
            return;
        if (chroma == 3)
            b.bit();
        b.ue();
        b.ue();
        b.bit();
        if (b.bit()) // scaling matrices
            return;
    }
    b.ue();
    const int64_t pocType = b.ue();
    if (pocType == 0) {
        b.ue();
    } else if (pocType == 1) {
        b.bit();
        b.se();
        b.se();
        const int64_t cycle = b.ue();
        if (cycle < 0 || cycle > 255)
            return;
        for (int64_t i = 0; i < cycle; ++i)
            b.se();
    } else if (pocType != 2) {
        return;
    }
    const int64_t refs = b.ue();
    if (refs >= 0 && refs <= 16 && !b.over())
        m_spsRefs[size_t(id)] = int(refs);
}

void MatroskaWalk::AvcParser::readPps(const uint8_t *rbsp, int size)
{
    RbspBits b(rbsp, size);
    const int64_t id = b.ue();
    const int64_t sps = b.ue();
    if (id < 0 || id >= 256)
        return;
    m_pps[size_t(id)] = {-1, 0};
    if (sps < 0 || sps >= 32)
        return;
    b.bit();
    b.bit();
    if (b.ue() != 0) // slice groups
        return;
    const int64_t refs0 = b.ue() + 1;
    const int64_t refs1 = b.ue() + 1;
    if (refs0 >= 1 && refs0 <= 32 && refs1 >= 1 && refs1 <= 32 && !b.over())
        m_pps[size_t(id)] = {int(sps), int(refs0)};
}

// The H.264 parser's reading of a packet, as far as its first slice: an IDR slice, or an I
// slice where one reference frame is all there is, makes a keyframe. A recovery point, a
// start code inside a unit or data partitions are left to the parser itself.
MatroskaWalk::Judged MatroskaWalk::AvcParser::judge(const uint8_t *d, int avail, int size,
    Verdict *verdict, int *need)
{
    *verdict = {};
    const int lengthSize = m_lengthSize;
    if (lengthSize <= 0)
        return Judged::Decline;
    for (int at = 0;;) {
        if (at >= size - lengthSize)
            return Judged::Decline; // no slice at all
        if (at + lengthSize + 1 > avail) {
            *need = at + lengthSize + 1;
            return Judged::NeedMore;
        }
        uint32_t length = 0;
        for (int i = 0; i < lengthSize; ++i)
            length = length << 8 | d[at + i];
        at += lengthSize;
        if (length == 0 || length > uint32_t(size - at))
            return Judged::Decline;
        const int type = d[at] & 0x1f;
        if (type >= 2 && type <= 4)
            return Judged::Decline;
        if (type == 1 || type == 5) {
            const int header = std::min(int(length), 16);
            if (at + header > avail) {
                *need = at + header;
                return Judged::NeedMore;
            }
            return judgeSlice(d + at, header, verdict);
        }
        if (at + int(length) > avail) {
            if (length > (1u << 20))
                return Judged::Decline;
            *need = at + int(length);
            return Judged::NeedMore;
        }
        if (holdsStartCode(d + at, int(length)))
            return Judged::Decline;
        if (type >= 6 && type <= 8) {
            const std::vector<uint8_t> rbsp = unescaped(d + at + 1, int(length) - 1);
            if (type == 7) {
                readSps(rbsp.data(), int(rbsp.size()));
            } else if (type == 8) {
                readPps(rbsp.data(), int(rbsp.size()));
            } else if (!plainMessages(rbsp)) {
                return Judged::Decline;
            }
        }
        at += int(length);
    }
}

// A slice's header (`unit` with its NAL header byte, `size` bytes of it): the picture's kind
// and whether the parser makes a keyframe of it.
MatroskaWalk::Judged MatroskaWalk::AvcParser::judgeSlice(const uint8_t *unit, int size,
    Verdict *verdict) const
{
    if (holdsStartCode(unit, size))
        return Judged::Decline;
    const int type = unit[0] & 0x1f;
    const std::vector<uint8_t> rbsp = unescaped(unit + 1, size - 1);
    RbspBits b(rbsp.data(), int(rbsp.size()));
    b.ue(); // first macroblock
    const int64_t sliceType = b.ue();
    const int64_t ppsId = b.ue();
    if (sliceType < 0 || sliceType > 9 || ppsId < 0)
        return Judged::Decline;
    const int picture = int(sliceType % 5); // P, B, I, SP, SI
    verdict->idr = type == 5;
    verdict->key = type == 5;
    verdict->bidirectional = picture == 1;
    if (!verdict->key && picture == 2 && ppsId < 256) {
        const auto [sps, refs0] = m_pps[size_t(ppsId)];
        if (sps < 0 || m_spsRefs[size_t(sps)] < 0)
            return Judged::Decline;
        verdict->key = m_spsRefs[size_t(sps)] <= 1 && refs0 <= 1;
    }
    return Judged::Done;
}

namespace {

// What the walk needs of a TrackEntry: whether its blocks are its packets as they stand.
struct TrackFields {
    uint64_t number = 0;
    uint64_t type = 0;
    std::string codec;
    bool plain = true;
};

// The TrackEntry whose data `d` holds.
template <typename Element>
bool readTrackEntry(const uint8_t *d, const Element &entry, TrackFields *track)
{
    Element field;
    for (int64_t f = entry.data; f < entry.end(); f = field.end()) {
        if (!readHeader(d + (f - entry.data), int(entry.end() - f), f, &field) ||
            field.size < 0 || field.end() > entry.end())
            return false;
        const uint8_t *value = d + (field.data - entry.data);
        if (field.id == kTrackNumber && field.size <= 8)
            track->number = readUnsigned(value, field.size);
        else if (field.id == kTrackType && field.size <= 8)
            track->type = readUnsigned(value, field.size);
        else if (field.id == kCodecId)
            track->codec.assign(reinterpret_cast<const char *>(value), size_t(field.size));
        else if (field.id == kContentEncodings || field.id == kTrackTimeScale ||
            (field.id == kCodecDelay && readUnsigned(value, field.size) != 0))
            track->plain = false;
    }
    track->codec = track->codec.c_str(); // a string may be padded with zeros
    return true;
}

} // namespace

std::atomic<bool> MatroskaWalk::allowed{true};
std::atomic<int> MatroskaWalk::lastWalked{0};

MatroskaWalk::~MatroskaWalk() = default;

std::unique_ptr<MatroskaWalk> MatroskaWalk::start(const StreamIndex::Source &source)
{
    AVFormatContext *fc = source.context();
    const AVStream *st = source.videoStream();
    const AVCodecParameters *par = st->codecpar;
    lastWalked = 0;
    if (!allowed || !fc->iformat || !std::strstr(fc->iformat->name, "matroska") || !fc->pb ||
        source.localPath.isEmpty())
        return nullptr;
    // H.264 goes through its parser, one block at a time, which probing has already set up
    // (as it has HEVC's, whose verdicts are not read here); an interlaced stream's second
    // fields are told apart by the parser alone.
    const AVCodecParserContext *parser = av_stream_get_parser(st);
    if (par->codec_id != AV_CODEC_ID_H264 || !parser ||
        !(parser->flags & PARSER_FLAG_COMPLETE_FRAMES) ||
        par->field_order != AV_FIELD_PROGRESSIVE || par->video_delay < 0 ||
        par->video_delay > 16)
        return nullptr;
    std::unique_ptr<MatroskaWalk> walk(new MatroskaWalk);
    walk->m_source = &source;
    walk->m_delay = par->video_delay;
    walk->m_ptsBuffer.fill(AV_NOPTS_VALUE);
    walk->m_probeEnd = avio_tell(fc->pb);
    if (!walk->m_avc.readExtradata(par->extradata, par->extradata_size))
        return nullptr;
    walk->m_file = std::make_unique<ClusterReader>(source.localPath);
    if (!walk->readHead())
        return nullptr;
    return walk;
}

// The EBML header, the segment and what comes before the first cluster: the video track
// must be one whose blocks are its packets as they stand.
bool MatroskaWalk::readHead()
{
    const int64_t fileSize = m_file->size();
    int got = 0;
    const uint8_t *d = m_file->at(0, 16, &got);
    Element e;
    if (!d || !readHeader(d, got, 0, &e) || e.id != kEbml || e.size < 0)
        return false;
    Element segment;
    d = m_file->at(e.end(), 16, &got);
    if (!d || !readHeader(d, got, e.end(), &segment) || segment.id != kSegment)
        return false;
    m_segmentEnd = segment.size < 0 ? fileSize : segment.end();
    // What follows a segment's end (another segment, damage) is the demuxer's business.
    if (m_segmentEnd != fileSize)
        return false;
    // The demuxer numbers its streams, not by the tracks' numbers: the one video track it is,
    // as the first packets' blocks show (follow).
    bool found = false;
    for (int64_t at = segment.data; at < m_segmentEnd; at = e.end()) {
        d = m_file->at(at, 16, &got);
        if (!d || !readHeader(d, got, at, &e) || e.size < 0 || e.end() > m_segmentEnd)
            return false;
        if (e.id == kCluster) {
            m_cursor = at;
            return found;
        }
        if (!passedTopLevel(e.id) || (e.id == kTracks && !readTracks(e, &found)))
            return false;
    }
    return false;
}

// Every track's number, and the one video track's: false where the walk does not read them.
bool MatroskaWalk::readTracks(const Element &tracks, bool *found)
{
    if (tracks.size > (4 << 20))
        return false;
    int got = 0;
    const uint8_t *d = m_file->at(tracks.data, int(tracks.size), &got);
    if (!d || got != int(tracks.size))
        return false;
    const std::vector<uint8_t> copy(d, d + tracks.size);
    Element entry;
    for (int64_t t = 0; t < tracks.size; t = entry.end() - tracks.data) {
        if (!readHeader(copy.data() + t, int(tracks.size - t), tracks.data + t, &entry) ||
            entry.size < 0 || entry.end() > tracks.end())
            return false;
        if (entry.id != kTrackEntry)
            continue;
        TrackFields track;
        if (!readTrackEntry(copy.data() + (entry.data - tracks.data), entry, &track))
            return false;
        m_tracks.push_back(track.number);
        if (track.type != 1)
            continue;
        if (*found || !track.plain || track.codec != "V_MPEG4/ISO/AVC")
            return false;
        m_track = track.number;
        *found = true;
    }
    return true;
}

// The next cluster from the cursor on: 1 found, 0 the end of the segment, -1 none the walk
// reads.
int MatroskaWalk::nextCluster(Element *cluster)
{
    while (m_cursor < m_segmentEnd) {
        int got = 0;
        const uint8_t *d = m_file->at(m_cursor, 16, &got);
        Element e;
        if (!d || !readHeader(d, got, m_cursor, &e) || e.size < 0 || e.end() > m_segmentEnd)
            return -1;
        m_cursor = e.end();
        if (e.id == kCluster) {
            *cluster = e;
            return 1;
        }
        if (!passedTopLevel(e.id))
            return -1;
    }
    return 0;
}

// libavformat's decode time for a packet with no time but its presentation: the earliest of
// the latest few presentation times, as many as the decoder holds back pictures.
int64_t MatroskaWalk::reorder(int64_t pts)
{
    m_ptsBuffer[0] = pts;
    for (int i = 0; i < m_delay && m_ptsBuffer[size_t(i)] > m_ptsBuffer[size_t(i) + 1]; ++i)
        std::swap(m_ptsBuffer[size_t(i)], m_ptsBuffer[size_t(i) + 1]);
    return m_ptsBuffer[0];
}

bool MatroskaWalk::follow(const AVPacket *packet)
{
    if (m_off)
        return false;
    if (m_handOver.size >= 0 && packet->pos >= m_handOver.data)
        return true;
    const int64_t pts = packet->pts;
    int got = 0;
    const uint8_t *block = packet->pos >= 0 ? m_file->at(packet->pos, 8, &got) : nullptr;
    if (pts == AV_NOPTS_VALUE || packet->size <= 0 || !block ||
        trackOf(block, got) != int64_t(m_track)) {
        m_off = true;
        return false;
    }
    Verdict verdict;
    int need = 0;
    if (m_avc.judge(packet->data, packet->size, packet->size, &verdict, &need) != Judged::Done ||
        verdict.key != bool(packet->flags & AV_PKT_FLAG_KEY) ||
        (verdict.bidirectional && m_delay == 0)) {
        m_off = true;
        return false;
    }
    // The packets queued while the stream was probed had their decode times filled in while
    // the decoder was still learning how far it reorders: the buffer is known only once the
    // times since have pushed every earlier one out of it.
    if (packet->pos < m_probeEnd) {
        m_maxBefore = std::max(m_maxBefore, pts);
        return false;
    }
    if (!m_bufferKnown) {
        m_window.push_back(pts);
        if (m_window.size() > 1000) { // times that go back a long way: no end in sight
            m_off = true;
            return false;
        }
        if (int(m_window.size()) < m_delay)
            return false;
        std::vector<int64_t> latest = m_window;
        std::sort(latest.begin(), latest.end());
        latest.erase(latest.begin(), latest.end() - m_delay);
        if (m_delay > 0 && latest.front() < m_maxBefore)
            return false;
        std::copy(latest.begin(), latest.end(), m_ptsBuffer.begin() + 1);
        m_bufferKnown = true;
        return false;
    }
    if (reorder(pts) != packet->dts) {
        m_off = true;
        return false;
    }
    // Enough agreement: the walk takes over at the next cluster.
    if (++m_checked == 2 * m_delay + 8) {
        do {
            if (nextCluster(&m_handOver) != 1) {
                m_off = true;
                return false;
            }
        } while (m_handOver.data <= packet->pos);
    }
    return false;
}

bool MatroskaWalk::walk(ReadAhead &ahead, std::vector<Walked> &out)
{
    out.clear();
    Element cluster = m_handOver;
    for (;;) {
        if (m_source->stopScanning())
            return false;
        ahead.at(cluster.data);
        if (!walkCluster(cluster, out))
            return false;
        const int next = nextCluster(&cluster);
        if (next < 0)
            return false;
        if (next == 0)
            break;
    }
    for (const auto &[pos, time] : m_seekPoints)
        av_add_index_entry(m_source->videoStream(), pos, time, 0, 0, AVINDEX_KEYFRAME);
    lastWalked = int(out.size());
    return true;
}

bool MatroskaWalk::walkCluster(const Element &cluster, std::vector<Walked> &out)
{
    int64_t time = -1;
    m_clusterStart = cluster.start;
    Element e;
    for (int64_t at = cluster.data; at < cluster.end(); at = e.end()) {
        int got = 0;
        const uint8_t *d = m_file->at(at, 16, &got);
        if (!d || !readHeader(d, got, at, &e) || e.size < 0 || e.end() > cluster.end())
            return false;
        if (e.id == kClusterTime) {
            const uint8_t *v = m_file->at(e.data, int(e.size), &got);
            if (time >= 0 || e.size > 7 || (e.size > 0 && (!v || got != int(e.size))))
                return false;
            time = int64_t(readUnsigned(v, e.size));
            if (time >= (int64_t(1) << 53))
                return false;
        } else if (e.id == kSimpleBlock) {
            if (time < 0 || !takeBlock(e.data, e.size, -1, time, out))
                return false;
        } else if (e.id == kBlockGroup) {
            Element block, field;
            int blocks = 0;
            bool referring = false;
            for (int64_t f = e.data; f < e.end(); f = field.end()) {
                const uint8_t *p = m_file->at(f, 16, &got);
                if (!p || !readHeader(p, got, f, &field) || field.size < 0 ||
                    field.end() > e.end())
                    return false;
                if (field.id == kBlock) {
                    block = field;
                    ++blocks;
                } else if (field.id == kReferenceBlock) {
                    referring = true;
                } else if (!passedInGroup(field.id)) {
                    return false;
                }
            }
            if (time < 0 || blocks != 1 ||
                !takeBlock(block.data, block.size, referring ? 0 : 1, time, out))
                return false;
        } else if (!passedInCluster(e.id)) {
            return false;
        }
    }
    return true;
}

// One block, as matroskadec makes a packet of it: the position of the block's data, its
// payload, the cluster's time plus its own; the keyframe flag from the block (or the H.264
// parser's verdict), the decode time from the reorder buffer.
bool MatroskaWalk::takeBlock(int64_t dataPos, int64_t dataSize, int keyFlag,
    int64_t clusterTime, std::vector<Walked> &out)
{
    int got = 0;
    const uint8_t *d = m_file->at(dataPos, int(std::min<int64_t>(dataSize, 512)), &got);
    if (!d || got < 4 || d[0] == 0)
        return false;
    const int64_t track = trackOf(d, got);
    const int trackLength = __builtin_clz(uint32_t(d[0]) << 24) + 1;
    if (track < 0 || got < trackLength + 3)
        return false;
    if (track != int64_t(m_track)) // the demuxer drops the other tracks' blocks, and stops
        return std::find(m_tracks.begin(), m_tracks.end(), uint64_t(track)) != m_tracks.end();
    const int16_t blockTime = int16_t(d[trackLength] << 8 | d[trackLength + 1]);
    const int flags = d[trackLength + 2];
    const int header = trackLength + 3;
    const int64_t payload = dataSize - header;
    if ((flags & 0x06) != 0 || payload <= 0 || payload > INT32_MAX / 2 ||
        (blockTime < 0 && clusterTime < -int64_t(blockTime)))
        return false;
    FrameIndex::Packet p;
    p.pos = dataPos;
    p.size = int(payload);
    p.pts = clusterTime + blockTime;
    p.slot = -1;
    if (keyFlag < 0 ? (flags & 0x80) != 0 : keyFlag == 1)
        m_seekPoints.emplace_back(m_clusterStart, p.pts);
    Verdict verdict;
    int need = 0;
    Judged judged = m_avc.judge(d + header, got - header, p.size, &verdict, &need);
    while (judged == Judged::NeedMore) {
        need = std::min(std::max(need, 2 * got), p.size);
        d = m_file->at(dataPos + header, need, &got);
        if (!d || got < need)
            return false;
        judged = m_avc.judge(d, got, p.size, &verdict, &need);
    }
    if (judged != Judged::Done || (verdict.bidirectional && m_delay == 0))
        return false;
    p.keyframe = verdict.key;
    Walked walked;
    walked.idr = verdict.idr;
    const int64_t dts = reorder(p.pts);
    p.dts = dts != AV_NOPTS_VALUE ? dts : p.pts;
    walked.packet = p;
    out.push_back(walked);
    return true;
}

} // namespace video
