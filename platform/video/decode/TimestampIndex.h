#pragma once

#include "platform/video/decode/StreamIndex.h"

namespace video {

// Every container but AVI (MP4, MOV, MKV, WebM, MPEG-TS ...) stamps its packets with
// presentation times: the file is scanned once for them, and a slot is a picture in the order
// they are shown (ties in decode order, never across an H.264 IDR picture; second fields are
// no pictures of their own, nor are the pictures VP8 and VP9 keep hidden, and a raw MPEG
// stream goes by its temporal references, its times being guesses). An MP4 or MOV scan takes
// what it needs from the sample tables and reads few payloads (SkippingDemuxer); an MKV's
// H.264, past its first clusters, only as far as each block's first bytes
// (MatroskaWalk); the others have no such tables and are read whole.
class TimestampIndex final : public StreamIndex {
public:
    // Indexes of at least this many pictures work out their times beside the packets as they
    // are restored.
    static constexpr size_t kTimesAside = 20000;
    explicit TimestampIndex(const AVInputFormat *format);

    bool presentsByTime() const override { return true; }
    bool timesInDecodeOrder() const override { return m_decodeOrderTimes; }
    bool build(const Source &source, VideoInfo &info, FrameIndex &index) override;
    bool scannedWhole() const override { return m_scannedWhole; }
    void save(IndexWriter &out, const VideoInfo &info, const FrameIndex &index) const override;
    bool restore(IndexReader &in, const Source &source, VideoInfo &info,
        FrameIndex &index) override;
    int seekStart(AVFormatContext *fc, int stream, const FrameIndex &index) const override;
    int seekTo(AVFormatContext *fc, int stream, const FrameIndex::Packet &target)
        const override;
    int64_t lookupTime(const AVPacket *packet) const override;
    void restamp(AVPacket *packet, const FrameIndex &index, int packetIndex) const override;
    AVRational timeBase() const override { return m_timeBase; }
    bool dropPositions(const std::vector<int> &packetIndices, VideoInfo &info,
        FrameIndex &index) override;

private:
    // Slots in the order of `shown` (pts, packet), and the keyframes that can start a decode.
    void numberPositions(std::vector<FrameIndex::Packet> &packets,
        const std::vector<std::pair<int64_t, int>> &shown);
    void timePositions(VideoInfo &info, const FrameIndex &index) const;
    // Each position's time in ms, from the first; `guessed`: at the frame rate instead.
    static std::vector<qint64> positionMs(const std::vector<int64_t> &presentation,
        AVRational timeBase, bool guessed, int rateNum, int rateDen);
    void checkDecodeOrderTimes(const AVCodecParameters *par, const FrameIndex &index);

    bool m_raw = false; // a raw elementary stream: its times are the demuxer's guesses
    bool m_byteSeek = false; // a transport stream's timestamps give only a rough place
    bool m_scannedWhole = false; // every payload read: no sample tables said it
    bool m_decodeOrderTimes = false;
    AVRational m_timeBase{1, 1};
    std::vector<int64_t> m_presentation; // what ordered each position's picture (its pts)
};

} // namespace video
