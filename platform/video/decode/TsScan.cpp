#include "platform/video/decode/TsScan.h"

#include "platform/video/decode/MappedRead.h"
#include "platform/video/decode/RbspBits.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <thread>

// What the demuxer and the parser would make of the file, and why each condition here is
// enough for it:
// - libavformat's transport stream demuxer hands the video PID's PES packets, each stamped
//   with its PES header's times (a DTS-less header: the PTS for both) and the byte position
//   of the transport packet its header starts in, and the H.264 parser cuts them into
//   access units again. Where each PES holds one access unit and the parser's cut falls on
//   the PES's first byte, the parser's packets are the PES packets: same bytes, same times,
//   same position. The parser cuts before an access unit delimiter, SEI, SPS or PPS that
//   follows a slice, and before a slice whose first macroblock is not after the previous
//   slice's; every NAL unit of every PES is looked at for it, the only reading of every
//   payload byte here and most of the scan's work. Nothing cheaper tells: the times of a
//   PES that holds two fields, or two pictures under one time, can still be evenly spaced.
//   The cut takes the zeros of a four-byte start code, and a zero at the
//   end of the PES before with a three-byte one: the latter is declined.
// - Its keyframe flag is the parser's: an IDR slice, or a recovery point SEI before the first
//   slice. Access units with SEI, SPS or PPS before their first slice are given to the
//   codec's own parser (the headers only, in file order), the rest are keyframes where their
//   first slice is IDR.
// - libavformat changes times only where they wrap (the programme's reference, declined),
//   where decode times go back (declined) and, with B-pictures, where a picture other than a
//   B-picture has its decode time equal to its presentation time (declined).
// Anything else (lost sync, a continuity counter that jumps, scrambling, a PES without a
// PTS or a slice, field pictures, packets of neither 188 bytes nor M2TS's 192 ...) declines
// the whole file. A PES longer
// than the demuxer hands over in one packet is cut by it and joined again by the parser.
namespace video {

namespace {

std::atomic<bool> g_allowed{true};

constexpr int kPacket = 188;
constexpr int64_t kWindowPackets = 4096 * 32; // about 24 MB
constexpr int64_t kPrefetch = 4096;
constexpr int kHeaderTail = 64; // of the first slice, as the codec's parser wants it
constexpr int kNalPeek = 6; // a NAL header and the bytes of first_mb_in_slice, slice_type

int64_t pesTime(const uint8_t *r)
{
    return int64_t((r[0] >> 1) & 7) << 30 | int64_t((r[1] << 8 | r[2]) >> 1) << 15 |
        int64_t((r[3] << 8 | r[4]) >> 1);
}

// An Exp-Golomb number from raw bytes, as the parser reads it (no emulation bytes are
// removed: the first slice's first byte is not zero, and the parser does not either). Only a
// number with bits to spare after it: the parser takes a byte more for one that ends with its
// last byte, which could be the next PES's first.
bool spareUe(RbspBits &bits, int sizeBits, unsigned *value)
{
    const int64_t v = bits.ue();
    if (v < 0 || v > (int64_t(1) << 17) - 2 || bits.position() >= sizeBits)
        return false;
    *value = unsigned(v);
    return true;
}

struct AccessUnit {
    int64_t pos = 0;
    int64_t size = 0;
    int64_t pts = 0;
    int64_t dts = 0;
    bool idr = false;
    bool b = false;
    bool key = false;
};

// An access unit's bytes up to a little past its first slice header, for the codec's parser.
struct Headers {
    size_t picture = 0;
    std::vector<uint8_t> bytes;
};

// One PES of the video PID as it comes in, and the NAL units seen in it.
class Pes {
public:
    void start(int64_t pos, int64_t pts, int64_t dts, int length, int headerData)
    {
        *this = Pes();
        m_unit.pos = pos;
        m_unit.pts = pts;
        m_unit.dts = dts;
        m_length = length;
        m_headerData = headerData;
    }

    void feed(const uint8_t *s, int n)
    {
        if (m_bad || n <= 0)
            return;
        if (m_size < m_collectTo) {
            const int64_t take = std::min<int64_t>(n, m_collectTo - m_size);
            m_prefix.insert(m_prefix.end(), s, s + take);
        }
        for (int at = 0; m_peeking && m_peekHave < kNalPeek && at < n;)
            m_peek[m_peekHave++] = s[at++];
        if (m_peeking && m_peekHave == kNalPeek)
            flushPeek();
        // Start codes that began in the bytes before.
        if (m_tailCount >= 2 && m_tail[0] == 0 && m_tail[1] == 0 && s[0] == 1)
            nalAt(s, n, 1);
        if (m_tailCount >= 1 && m_tail[1] == 0 && n >= 2 && s[0] == 0 && s[1] == 1)
            nalAt(s, n, 2);
        scan(s, n);
        if (n >= 2) {
            m_tail[0] = s[n - 2];
            m_tail[1] = s[n - 1];
        } else {
            m_tail[0] = m_tail[1];
            m_tail[1] = s[0];
        }
        m_tailCount = std::min(2, m_tailCount + n);
        m_size += n;
    }

    // The access unit the PES held, or false where the parser would make something else of it.
    bool finish(AccessUnit *unit, bool *needsParser)
    {
        if (m_peeking)
            flushPeek();
        if (m_bad || !m_sliceSeen || m_size > INT32_MAX)
            return false;
        if (m_length != 0 && m_length != 3 + m_headerData + m_size)
            return false;
        *unit = m_unit;
        unit->size = m_size;
        unit->idr = m_firstType == 5;
        unit->b = m_bSlice;
        unit->key = unit->idr;
        *needsParser = m_parameterSets || seiMayHaveRecoveryPoint();
        return true;
    }

    bool shortStart() const { return m_shortStart; }
    bool endsWithZero() const { return m_tailCount > 0 && m_tail[1] == 0; }
    std::vector<uint8_t> takePrefix() { return std::move(m_prefix); }

private:
    void scan(const uint8_t *s, int n)
    {
        int i = 0;
#if defined(__SSE2__)
        const __m128i zero = _mm_setzero_si128();
        for (; i + 18 <= n; i += 16) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + i + 1));
            unsigned pairs =
                unsigned(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_or_si128(a, b), zero)));
            while (pairs) {
                const int k = i + __builtin_ctz(pairs);
                pairs &= pairs - 1;
                if (s[k + 2] == 1)
                    nalAt(s, n, k + 3);
            }
        }
#endif
        for (; i + 2 < n; ++i) {
            if (s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1)
                nalAt(s, n, i + 3);
        }
    }

    // A NAL unit whose header byte is at `at` of this piece (perhaps just past it).
    void nalAt(const uint8_t *s, int n, int at)
    {
        if (m_peeking) // a NAL unit shorter than its peek: what it has must do
            flushPeek();
        m_peeking = true;
        m_peekAt = m_size + at;
        m_peekHave = 0;
        while (m_peekHave < kNalPeek && at < n)
            m_peek[m_peekHave++] = s[at++];
        if (m_peekHave == kNalPeek)
            flushPeek();
    }

    void flushPeek()
    {
        const int have = m_peekHave;
        m_peeking = false;
        m_peekHave = 0;
        if (have == 0) {
            m_bad = true; // a start code with nothing after it in this PES
            return;
        }
        nal(m_peekAt, m_peek[0] & 0x1f, m_peek + 1, have - 1);
    }

    void nal(int64_t at, int type, const uint8_t *after, int afterSize)
    {
        ++m_nals;
        if (m_nals == 1) {
            // The access unit must begin the PES, its start code first.
            if (at != 3 && at != 4)
                m_bad = true;
            m_shortStart = at == 3;
        }
        if (type == 1 || type == 5) {
            RbspBits bits(after, afterSize);
            unsigned mb = 0;
            if (!spareUe(bits, afterSize * 8, &mb)) {
                m_bad = true;
                return;
            }
            if (!m_sliceSeen) {
                unsigned sliceType = 0;
                m_sliceSeen = true;
                m_firstType = type;
                m_lastMb = mb;
                m_bad = m_bad || mb != 0 || !spareUe(bits, afterSize * 8, &sliceType);
                m_bSlice = sliceType % 5 == 1;
                m_collectTo = at + kHeaderTail;
                m_firstSliceAt = at;
                return;
            }
            if (mb <= m_lastMb) // a second picture (or field) in this PES
                m_bad = true;
            m_lastMb = mb;
            return;
        }
        if (type >= 2 && type <= 4) { // data partitions: nothing the parser reads as a slice
            m_bad = true;
            return;
        }
        if (type >= 6 && type <= 9) {
            if (m_sliceSeen) { // the next access unit
                m_bad = true;
                return;
            }
            if (m_nals == 1 && m_bad)
                return;
            m_parameterSets = m_parameterSets || type == 7 || type == 8;
            if (type == 6)
                m_seiAt.push_back(at);
            return;
        }
        if (m_nals == 1)
            m_bad = true; // no NAL unit the parser would cut before
    }

    // A recovery point is SEI payload type 6: a byte 6 after the NAL header, or none.
    bool seiMayHaveRecoveryPoint() const
    {
        for (const int64_t at : m_seiAt) {
            const int64_t end = std::min<int64_t>(m_firstSliceAt, int64_t(m_prefix.size()));
            for (int64_t i = at + 1; i < end; ++i) {
                if (m_prefix[size_t(i)] == 6)
                    return true;
            }
        }
        return false;
    }

    AccessUnit m_unit; // where and when, from the PES header
    int m_length = 0;
    int m_headerData = 0;
    int64_t m_size = 0;
    uint8_t m_tail[2] = {1, 1};
    int m_tailCount = 0;
    uint8_t m_peek[kNalPeek] = {};
    bool m_peeking = false; // a NAL unit's first bytes are being gathered
    int m_peekHave = 0;
    int64_t m_peekAt = 0;
    int m_nals = 0;
    bool m_bad = false;
    bool m_shortStart = false;
    bool m_sliceSeen = false;
    bool m_bSlice = false;
    bool m_parameterSets = false;
    int m_firstType = 0;
    unsigned m_lastMb = 0;
    int64_t m_firstSliceAt = INT64_MAX;
    int64_t m_collectTo = INT64_MAX; // until the first slice is found, everything
    std::vector<uint8_t> m_prefix;
    std::vector<int64_t> m_seiAt;
};

// A window of the file, read through the page cache without a copy.
struct Map {
    Map(int fd, int64_t at, size_t length) : length(length)
    {
        void *p = ::mmap(nullptr, length, PROT_READ, MAP_SHARED, fd, at);
        if (p != MAP_FAILED) {
            data = static_cast<const uint8_t *>(p);
            ::madvise(p, length, MADV_SEQUENTIAL);
        }
    }
    ~Map()
    {
        if (data)
            ::munmap(const_cast<uint8_t *>(data), length);
    }
    Map(const Map &) = delete;
    Map &operator=(const Map &) = delete;

    const uint8_t *data = nullptr;
    size_t length;
};

// One stretch of the file: from its first PES of the video PID up to the first one that
// starts at or after `end` (the file's end for the last stretch).
class Stretch {
public:
    // `stride`: 188, or 192 where each packet has a 4-byte time before it (M2TS).
    Stretch(int pid, int stride, const std::atomic<bool> *cancelled)
        : m_pid(pid), m_stride(stride), m_cancelled(cancelled)
    {
    }

    void run(int fd, int64_t begin, int64_t end, int64_t fileEnd)
    {
        for (int64_t window = begin; window < fileEnd && !m_done && !m_bad;) {
            // A file that shrank since the scan began is declined here; one cut shorter while
            // a window is read, by readMapped.
            struct stat now = {};
            if ((m_cancelled && m_cancelled->load()) || ::fstat(fd, &now) != 0 ||
                now.st_size < fileEnd) {
                m_bad = true;
                return;
            }
            const int64_t windowSize = m_stride * kWindowPackets;
            const int64_t length = std::min(windowSize, fileEnd - window);
            const int64_t mapAt = window & ~int64_t(4095);
            const Map map(fd, mapAt, size_t(length + (window - mapAt)));
            if (!map.data) {
                m_bad = true;
                return;
            }
            const int64_t next = window + length;
            if (next < fileEnd) { // the disk reads the next window while this one is parsed
                const int64_t nextAt = next & ~int64_t(4095);
                ::posix_fadvise(fd, nextAt, std::min(windowSize, fileEnd - nextAt),
                    POSIX_FADV_WILLNEED);
            }
            const uint8_t *base = map.data + (window - mapAt);
            // The demuxer's position of a packet is where its time is, in an M2TS.
            const bool whole = readMapped(base, size_t(length), [&] {
                for (int64_t at = 0; at < length && !m_done && !m_bad; at += m_stride) {
                    // The processor's own prefetch stops at the end of each page of the map.
                    if (at + kPrefetch + m_stride <= length) {
                        for (int line = 0; line < m_stride; line += 64)
                            __builtin_prefetch(base + at + kPrefetch + line);
                    }
                    packet(base + at + (m_stride - kPacket), window + at, end);
                }
            });
            if (!whole) { // cut shorter while it was read
                m_bad = true;
                return;
            }
            window = next;
        }
        if (!m_done && !m_bad && m_inPes)
            finishPes();
        if (!m_done)
            stop = fileEnd;
    }

    std::vector<AccessUnit> pictures;
    std::vector<Headers> headers;
    int64_t firstStart = -1; // where its first PES starts
    int64_t stop = -1; // where the next stretch's first PES starts
    bool firstShortStart = false;
    bool lastEndsWithZero = false;
    bool declined() const { return m_bad; }
    void fail() { m_bad = true; }

private:
    void packet(const uint8_t *p, int64_t pos, int64_t end)
    {
        if (p[0] != 0x47) {
            m_bad = true;
            return;
        }
        const int pid = (p[1] & 0x1f) << 8 | p[2];
        if (pid != m_pid)
            return;
        const bool unitStart = p[1] & 0x40;
        const int control = (p[3] >> 4) & 3;
        const int counter = p[3] & 0x0f;
        if ((p[1] & 0x80) || (p[3] & 0xc0) || control == 0) { // damaged, scrambled, reserved
            m_bad = true;
            return;
        }
        if (m_lastCounter < 0 && !unitStart)
            return; // before the first PES, which the demuxer skips too
        const bool payload = control & 1;
        if (m_lastCounter >= 0 &&
            counter != (payload ? (m_lastCounter + 1) & 0x0f : m_lastCounter)) {
            m_bad = true;
            return;
        }
        if (unitStart && pos >= end && m_lastCounter >= 0) {
            m_done = true;
            stop = pos;
            if (m_inPes)
                finishPes();
            return;
        }
        m_lastCounter = counter;
        int at = 4;
        if (control & 2) {
            if (p[4] > 183 || (p[4] > 0 && (p[5] & 0x80))) { // too long, or a discontinuity
                m_bad = true;
                return;
            }
            at += 1 + p[4];
        }
        if (!payload || at >= kPacket) {
            m_bad = m_bad || unitStart;
            return;
        }
        if (unitStart) {
            if (m_inPes)
                finishPes();
            startPes(p + at, kPacket - at, pos);
        } else {
            m_pes.feed(p + at, kPacket - at);
        }
    }

    void startPes(const uint8_t *h, int n, int64_t pos)
    {
        // The whole header in this packet, a video stream id, a PTS.
        if (n < 9 || h[0] != 0 || h[1] != 0 || h[2] != 1 || (h[3] & 0xf0) != 0xe0 ||
            !(h[7] & 0x80) || n < 9 + h[8] || h[8] < ((h[7] & 0x40) ? 10 : 5)) {
            m_bad = true;
            return;
        }
        const int64_t pts = pesTime(h + 9);
        const int64_t dts = (h[7] & 0x40) ? pesTime(h + 14) : pts;
        m_pes.start(pos, pts, dts, h[4] << 8 | h[5], h[8]);
        m_inPes = true;
        if (firstStart < 0)
            firstStart = pos;
        m_pes.feed(h + 9 + h[8], n - 9 - h[8]);
    }

    void finishPes()
    {
        m_inPes = false;
        AccessUnit picture;
        bool needsParser = false;
        if (!m_pes.finish(&picture, &needsParser) ||
            (m_pes.shortStart() && lastEndsWithZero && !pictures.empty())) {
            m_bad = true;
            return;
        }
        if (pictures.empty())
            firstShortStart = m_pes.shortStart();
        lastEndsWithZero = m_pes.endsWithZero();
        if (needsParser)
            headers.push_back({pictures.size(), m_pes.takePrefix()});
        pictures.push_back(picture);
    }

    const int m_pid;
    const int m_stride;
    const std::atomic<bool> *m_cancelled;
    Pes m_pes;
    bool m_inPes = false;
    int m_lastCounter = -1;
    bool m_done = false;
    bool m_bad = false;
};

// The conditions on the stream as the probe found it.
bool plainStream(const AVFormatContext *fc, const AVStream *st)
{
    const AVCodecParameters *par = st->codecpar;
    constexpr int kChangesTimes = AVFMT_FLAG_GENPTS | AVFMT_FLAG_IGNDTS | AVFMT_FLAG_NOFILLIN |
        AVFMT_FLAG_NOPARSE | AVFMT_FLAG_SORT_DTS;
    return fc->iformat && std::strcmp(fc->iformat->name, "mpegts") == 0 &&
        par->codec_id == AV_CODEC_ID_H264 && par->field_order == AV_FIELD_PROGRESSIVE &&
        !(fc->flags & kChangesTimes) && st->pts_wrap_bits == 33 && st->id > 0 &&
        st->id < 0x1fff && st->time_base.num == 1 && st->time_base.den == 90000;
}

// The wrap reference libavformat took for the stream's programme: a time it would move
// declines the file.
bool wrapReference(const AVFormatContext *fc, int stream, int64_t *reference, int *behaviour)
{
    for (unsigned i = 0; i < fc->nb_programs; ++i) {
        const AVProgram *program = fc->programs[i];
        for (unsigned k = 0; k < program->nb_stream_indexes; ++k) {
            if (int(program->stream_index[k]) == stream &&
                program->pts_wrap_reference != AV_NOPTS_VALUE) {
                *reference = program->pts_wrap_reference;
                *behaviour = program->pts_wrap_behavior;
                return true;
            }
        }
    }
    return false;
}

bool wraps(int64_t t, int64_t reference, int behaviour)
{
    return (behaviour == AV_PTS_WRAP_ADD_OFFSET && t < reference) ||
        (behaviour == AV_PTS_WRAP_SUB_OFFSET && t >= reference);
}

// The keyframe flags of the access units with SEI or parameter sets, from the codec's parser
// in file order, as the demuxer's parser would have set them.
bool parseHeaders(const AVCodecParameters *par, std::vector<AccessUnit> &pictures,
    std::vector<Headers> &headers)
{
    if (headers.empty())
        return true;
    ff::CodecPtr context(avcodec_alloc_context3(nullptr));
    AVCodecParserContext *parser = av_parser_init(AV_CODEC_ID_H264);
    bool ok = context && parser && avcodec_parameters_to_context(context.get(), par) >= 0;
    if (ok) {
        parser->flags |= PARSER_FLAG_COMPLETE_FRAMES;
        for (Headers &h : headers) {
            const int size = int(h.bytes.size());
            h.bytes.resize(h.bytes.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
            uint8_t *out = nullptr;
            int outSize = 0;
            av_parser_parse2(parser, context.get(), &out, &outSize, h.bytes.data(), size,
                AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
            pictures[h.picture].key = parser->key_frame == 1;
        }
    }
    if (parser)
        av_parser_close(parser);
    return ok;
}

// What compute_pkt_fields would change, declined: a wrap, decode times that do not rise,
// decode after presentation, and the equal times it drops where B-pictures are about.
bool timesStand(const AVFormatContext *fc, int stream, const std::vector<AccessUnit> &pictures)
{
    int64_t reference = 0;
    int behaviour = 0;
    if (!wrapReference(fc, stream, &reference, &behaviour))
        return false;
    bool bPictures = fc->streams[stream]->codecpar->video_delay > 0;
    for (const AccessUnit &p : pictures)
        bPictures = bPictures || p.b;
    int64_t lastDts = INT64_MIN;
    for (const AccessUnit &p : pictures) {
        if (wraps(p.pts, reference, behaviour) || wraps(p.dts, reference, behaviour) ||
            p.dts > p.pts || p.dts <= lastDts || (bPictures && !p.b && p.dts == p.pts))
            return false;
        lastDts = p.dts;
    }
    return true;
}

} // namespace

void setTsScanAllowed(bool allowed)
{
    g_allowed = allowed;
}

namespace {

// The packet size the file's first two packets show: 188, or 192 where each has a 4-byte time
// before it (M2TS); 0 for neither.
int packetStride(int fd)
{
    uint8_t start[2 * (kPacket + 4)] = {};
    if (::pread(fd, start, sizeof start, 0) != ssize_t(sizeof start))
        return 0;
    if (start[0] == 0x47 && start[kPacket] == 0x47)
        return kPacket;
    if (start[4] == 0x47 && start[kPacket + 8] == 0x47)
        return kPacket + 4;
    return 0;
}

// Two stretches at once, the second from the first PES of the video PID at or after the
// middle, whatever the size: a small file costs a thread, and is read as a large one is. The
// second is joined to the first; false where either declined or they do not meet exactly.
bool scanBothHalves(int fd, int stride, int64_t fileEnd, const StreamIndex::Source &source,
    Stretch &first)
{
    const int64_t half = fileEnd / 2 / stride * stride;
    Stretch second(source.videoStream()->id, stride, source.cancelled);
    // Out of memory or threads, the stretch declines: the demuxer's scan says what it can.
    const auto runSecond = [&] {
        try {
            second.run(fd, half, fileEnd, fileEnd);
        } catch (const std::exception &) {
            second.fail();
        }
    };
    std::thread other;
    if (half < fileEnd) {
        try {
            other = std::thread(runSecond);
        } catch (const std::system_error &) {
            runSecond();
        }
    }
    try {
        first.run(fd, 0, half, fileEnd);
    } catch (const std::exception &) {
        first.fail();
    }
    if (other.joinable())
        other.join();
    if (first.declined() || first.pictures.empty() || first.firstStart < 0)
        return false;
    if (half >= fileEnd)
        return true;
    if (second.declined() ||
        first.stop != (second.firstStart < 0 ? fileEnd : second.firstStart))
        return false;
    if (!second.pictures.empty() && second.firstShortStart && first.lastEndsWithZero)
        return false;
    const size_t offset = first.pictures.size();
    for (Headers &h : second.headers)
        h.picture += offset;
    first.pictures.insert(first.pictures.end(), second.pictures.begin(), second.pictures.end());
    std::move(second.headers.begin(), second.headers.end(), std::back_inserter(first.headers));
    return true;
}

TsPictures packetsOf(const std::vector<AccessUnit> &pictures)
{
    TsPictures result;
    result.packets.reserve(pictures.size());
    result.idr.reserve(pictures.size());
    for (const AccessUnit &p : pictures) {
        FrameIndex::Packet packet;
        packet.pos = p.pos;
        packet.size = int(p.size);
        packet.keyframe = p.key;
        packet.dts = p.dts;
        packet.pts = p.pts;
        packet.slot = -1;
        result.packets.push_back(packet);
        result.idr.push_back(p.key && p.idr);
    }
    return result;
}

} // namespace

std::optional<TsPictures> scanTransportStream(const StreamIndex::Source &source)
{
    AVFormatContext *fc = source.context();
    const AVStream *st = source.videoStream();
    if (!g_allowed || !plainStream(fc, st) || source.localPath.isEmpty())
        return std::nullopt;
    const int fd = ::open(source.localPath.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const int stride = packetStride(fd);
    Stretch first(st->id, stride, source.cancelled);
    const bool scanned =
        stride > 0 && scanBothHalves(fd, stride, ::lseek(fd, 0, SEEK_END) / stride * stride,
                          source, first);
    ::close(fd);
    if (!scanned || !parseHeaders(st->codecpar, first.pictures, first.headers) ||
        !timesStand(fc, source.stream, first.pictures))
        return std::nullopt;
    return packetsOf(first.pictures);
}

} // namespace video
