#pragma once

#include "platform/video/FFmpegHandles.h"
#include "platform/video/FrameSource.h"
#include "platform/video/decode/FrameIndex.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace video {

class IndexReader;
class IndexWriter;

// How a file's packets become positions, chosen by the container when the file opens: an AVI
// numbers its chunks by their place in its index (AviIndex), every other container by the
// order its pictures are shown in (TimestampIndex). MediaFile opens, seeks and reads; this
// builds the slot table and says how to seek and how to stamp what is read.
class StreamIndex {
public:
    // The open file as the index sees it while it is built.
    struct Source {
        const ff::FormatPtr *format = nullptr; // a rewind may open the demuxer afresh
        int stream = -1;
        QString path;
        QByteArray localPath;
        qint64 fileSize = 0;
        const std::atomic<bool> *cancelled = nullptr; // the caller gave up
        std::function<bool()> rewind;

        AVFormatContext *context() const { return format->get(); }
        AVStream *videoStream() const { return context()->streams[stream]; }
        bool stopScanning() const { return cancelled && cancelled->load(); }
    };

    static std::unique_ptr<StreamIndex> forFormat(const AVInputFormat *format);
    virtual ~StreamIndex() = default;

    // Whether positions come from the packets' presentation times: a packet's slot is then
    // the position of its picture.
    virtual bool presentsByTime() const = 0;
    // Whether the times only count the packets in the order they are decoded although the
    // decoder reorders the pictures (an AVI's stream copied out with generated times): the
    // pictures are then numbered as they come out of the decoder, as an AVI's are.
    virtual bool timesInDecodeOrder() const { return false; }
    // The rate, the slot table and the frame count (and each position's time where it has
    // one). False when the file shows no frame.
    virtual bool build(const Source &source, VideoInfo &info, FrameIndex &index) = 0;
    // Whether build() read the whole file to learn what no table in it says: what it built
    // is then worth keeping between opens (IndexCache).
    virtual bool scannedWhole() const { return false; }
    // What build() made, as restore() takes it back in its place at a later open of the same
    // file; restore() is false where what it reads is none for this file.
    virtual void save(IndexWriter &, const VideoInfo &, const FrameIndex &) const {}
    virtual bool restore(IndexReader &, const Source &, VideoInfo &, FrameIndex &)
    {
        return false;
    }
    // Positions the demuxer at the first packet, or at this one (or before it).
    virtual int seekStart(AVFormatContext *fc, int stream, const FrameIndex &index) const = 0;
    virtual int seekTo(AVFormatContext *fc, int stream, const FrameIndex::Packet &target)
        const = 0;
    // What tells a read packet apart from another at the same byte position (INT64_MIN when
    // its place alone does).
    virtual int64_t lookupTime(const AVPacket *packet) const = 0;
    // Stamps a packet read as the decoder is to see it; `packetIndex` -1 when unknown.
    virtual void restamp(AVPacket *, const FrameIndex &, int /*packetIndex*/) const {}
    virtual AVRational timeBase() const { return AVRational{1, 1}; }
    virtual const std::vector<uint8_t> &palette() const;
    virtual const std::vector<uint8_t> &paletteAt(int packetIndex) const;
    // Where a plain decode from the start shows nothing for these packets, their pictures
    // are no positions; the rest close up. False when no position would be left.
    virtual bool dropPositions(const std::vector<int> &, VideoInfo &, FrameIndex &)
    {
        return false;
    }
    // The picture size the header claims where the demuxer gave up on it (0×0), if it says.
    virtual void claimedSize(const QByteArray &, int64_t *, int64_t *) const {}
};

// Shared by both indexes.
namespace rates {
// A rate a video can have: from one picture in 100 s to 1000 a second.
bool plausible(AVRational rate);
// When the header's rate is none a video can have: what the demuxer guessed, else 25.
AVRational fallback(const AVStream *st);
} // namespace rates

bool intraOnly(AVCodecID id);
// A raw elementary stream: its timestamps are the demuxer's guesses.
bool rawStream(const AVInputFormat *format);

} // namespace video
