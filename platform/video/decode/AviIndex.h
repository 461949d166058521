#pragma once

#include "platform/video/decode/StreamIndex.h"

#include <map>

namespace video {

// An AVI's slot table: from the file's index, null frames included; when the index is missing
// or does not cover the stream (a truncated file, a damaged idx1, a recording never
// finished), the packets are scanned once instead. A slot is a chunk's place in the stream,
// which the demuxer stamps as its timestamp. Palettised streams keep their palettes here.
class AviIndex final : public StreamIndex {
public:
    bool presentsByTime() const override { return false; }
    bool build(const Source &source, VideoInfo &info, FrameIndex &index) override;
    bool scannedWhole() const override { return m_scannedWhole; }
    void save(IndexWriter &out, const VideoInfo &info, const FrameIndex &index) const override;
    bool restore(IndexReader &in, const Source &source, VideoInfo &info,
        FrameIndex &index) override;
    int seekStart(AVFormatContext *fc, int stream, const FrameIndex &index) const override;
    int seekTo(AVFormatContext *fc, int stream, const FrameIndex::Packet &target)
        const override;
    int64_t lookupTime(const AVPacket *) const override { return INT64_MIN; }
    void restamp(AVPacket *packet, const FrameIndex &index, int packetIndex) const override;
    // The palette (AVPALETTE_SIZE bytes) that a palettised stream carries on its first
    // packet only; empty for other streams.
    const std::vector<uint8_t> &palette() const override { return m_palette; }
    // The last palette change before the packet in the file, or the first palette.
    const std::vector<uint8_t> &paletteAt(int packetIndex) const override;
    void claimedSize(const QByteArray &localPath, int64_t *width, int64_t *height)
        const override;

private:
    static bool buildFromDemuxer(const Source &source, FrameIndex &index);
    static bool coversStream(const Source &source, const FrameIndex &index);
    static bool scanPackets(const Source &source, FrameIndex &index);
    void capturePalette(const Source &source);
    void findPaletteChanges(const Source &source, const FrameIndex &index);
    static void indexDemuxer(const Source &source, const FrameIndex &index);

    bool m_scannedWhole = false; // no index in the file covered the stream

    std::vector<uint8_t> m_palette;
    std::map<int, std::vector<uint8_t>> m_paletteChanges; // packet -> palette from it on
};

} // namespace video
