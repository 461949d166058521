#pragma once

#include "platform/video/decode/FrameIndex.h"
#include "platform/video/decode/StreamIndex.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

namespace video {

class ReadAhead;
class ClusterReader;

// A scan of a Matroska file's video packets that reads only the element headers and the first
// bytes of each block, where the demuxer reads every byte of the file. It gives each packet as
// the demuxer would (the block's place, size and time, the keyframe flag the H.264 parser sets,
// the decode time libavformat fills in) and takes over from the demuxer's scan at a cluster
// once the packets so far have shown that it agrees with it. Anything it does not know to read
// exactly (lacing, compression, damage, an unknown element, a codec other than H.264) it
// leaves to the demuxer, which then simply goes on.
class MatroskaWalk {
public:
    struct Walked {
        FrameIndex::Packet packet;
        bool idr = false; // an H.264 IDR picture
    };

    // Null where the file is none the walk reads.
    static std::unique_ptr<MatroskaWalk> start(const StreamIndex::Source &source);
    // For the tests that hold the walk to the demuxer's scan: whether a scan may walk, and
    // how many packets the last one that did walked.
    static std::atomic<bool> allowed;
    static std::atomic<int> lastWalked;
    ~MatroskaWalk();
    MatroskaWalk(const MatroskaWalk &) = delete;
    MatroskaWalk &operator=(const MatroskaWalk &) = delete;

    // Each video packet the demuxer gives, in turn. True when the walk would take over at
    // this one (which it then gives again); false to go on with the demuxer.
    bool follow(const AVPacket *packet);
    // The packets from the cluster where it takes over to the end of the file. False where
    // the file turns out to be none it reads: whatever it took is dropped and the demuxer
    // goes on from the packet follow() stopped at.
    bool walk(ReadAhead &ahead, std::vector<Walked> &out);

private:
    // What the H.264 parser makes of a packet's first bytes.
    struct Verdict {
        bool key = false;
        bool idr = false;
        bool bidirectional = false;
    };
    enum class Judged { Done, NeedMore, Decline };
    class AvcParser {
    public:
        bool readExtradata(const uint8_t *d, int size);
        // `avail` of the packet's `size` bytes at `d`; NeedMore asks for more in `*need`.
        Judged judge(const uint8_t *d, int avail, int size, Verdict *verdict, int *need);

    private:
        Judged judgeSlice(const uint8_t *unit, int size, Verdict *verdict) const;
        void readSps(const uint8_t *rbsp, int size);
        void readPps(const uint8_t *rbsp, int size);
        int m_lengthSize = 0;
        std::array<int, 32> m_spsRefs{}; // -1: unknown
        std::array<std::pair<int, int>, 256> m_pps{}; // sps, refs; sps -1: unknown
    };

    struct Element {
        int64_t start = 0;
        uint32_t id = 0;
        int64_t data = 0; // where its data starts
        int64_t size = -1; // -1: unknown
        int64_t end() const { return data + size; }
    };

    MatroskaWalk() = default;
    bool readHead();
    bool readTracks(const Element &tracks, bool *found);
    int nextCluster(Element *cluster);
    bool walkCluster(const Element &cluster, std::vector<Walked> &out);
    bool takeBlock(int64_t dataPos, int64_t dataSize, int keyFlag, int64_t clusterTime,
        std::vector<Walked> &out);
    int64_t reorder(int64_t pts);

    std::unique_ptr<ClusterReader> m_file;
    // Where the demuxer's seeks find the keyframes the blocks mark, as its own scan would have
    // told it: the cluster and the time.
    std::vector<std::pair<int64_t, int64_t>> m_seekPoints;
    int64_t m_clusterStart = 0;
    const StreamIndex::Source *m_source = nullptr;
    uint64_t m_track = 0;
    std::vector<uint64_t> m_tracks; // every track's number
    int64_t m_segmentEnd = 0; // the file's end where the segment's size is unknown
    int64_t m_cursor = 0; // the next top-level element to look at
    AvcParser m_avc;
    // libavformat's reorder buffer of presentation times, from which it fills in decode times.
    int m_delay = 0;
    std::array<int64_t, 17> m_ptsBuffer{};
    // The demuxer's packets before the walk takes over.
    int64_t m_probeEnd = 0; // all the packets queued while probing lie before it
    int64_t m_maxBefore = INT64_MIN; // the latest time among them
    std::vector<int64_t> m_window; // times since, while the buffer is not yet known
    bool m_bufferKnown = false;
    int m_checked = 0; // decode times that matched since it is known
    Element m_handOver; // the cluster where the walk takes over (size -1 until then)
    bool m_off = false; // the file is none the walk reads
};

} // namespace video
