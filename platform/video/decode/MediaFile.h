#pragma once

#include "platform/video/FrameSource.h"
#include "platform/video/FFmpegHandles.h"
#include "platform/video/OpenError.h"
#include "platform/video/decode/FrameIndex.h"
#include "platform/video/decode/IndexCache.h"
#include "platform/video/decode/StreamIndex.h"

#include <QByteArray>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace video {

// An open video file's demuxer, its video stream and the slot table of that stream.
//
// Opening refuses what is no video (text, pictures, sound alone) and frame sizes the rest of
// the device cannot hold. The slot table comes from a StreamIndex chosen by the container:
// an AVI's own index (AviIndex), or one scan for the packets' presentation times in every
// other container (TimestampIndex). MediaFile opens, seeks and reads.
//
// Where the scan reads every packet of a long file (MKV without cues, MPEG-TS, fragmented
// MP4) it takes seconds; the open runs on the calling thread and returns only with the
// complete index, so every position is exact from the first command on. Such an index is
// kept in an IndexCache, where the options name one, and the next open of the same file
// takes it from there, with the stream parameters the stream probe found: a Matroska file
// opened again is not probed (openKept). Whoever must stay responsive meanwhile calls it
// from a thread of its own (device/Opening.h) and may give up through `cancelled`.
class MediaFile {
public:
    static constexpr int kMaxSide = 16384;
    // Where the demuxer's seek finds a keyframe: the byte it reads from, the keyframe's time.
    struct SeekPoint {
        int64_t pos = 0;
        int64_t time = 0;
    };

    // `choice`: which of the file's video streams, in the order a player tries them (in a
    // transport stream of several programmes, the first programme's first); `*choices` gets
    // how many there are, whether or not the one chosen opens (0 when none was found).
    // `cancelled`, when given, stops a long scan once set: the open then fails. Of `options`,
    // the index cache and the call once the index is whole.
    static std::unique_ptr<MediaFile> open(const QString &path, OpenError *error, int choice = 0,
        int *choices = nullptr, const std::atomic<bool> *cancelled = nullptr,
        const DecodeOptions &options = {});

    const VideoInfo &info() const { return m_info; }
    const FrameIndex &index() const { return m_index; }
    const AVCodecParameters *codecParameters() const;

    // Positions the demuxer so that readVideoPacket() returns this packet next.
    bool seekToPacket(int packetIndex);
    // The next packet of the video stream with its number in the index (-1 when the index
    // does not know it: the packet's dts is then its slot). False at the end or on an error.
    bool readVideoPacket(AVPacket *packet, int *packetIndex);

    // The palette (AVPALETTE_SIZE bytes) that a palettised stream carries on its first
    // packet only; empty for other streams.
    const std::vector<uint8_t> &palette() const { return m_streamIndex->palette(); }
    // The palette in effect at a packet: the last palette change before it in the file, or
    // the first palette. Empty for streams without one.
    const std::vector<uint8_t> &paletteAt(int packetIndex) const
    {
        return m_streamIndex->paletteAt(packetIndex);
    }

    // Whether positions come from the packets' presentation times (every container but
    // AVI, whose packets have none): a packet's slot is then the position of its picture.
    bool presentsByTime() const { return m_streamIndex->presentsByTime(); }
    // Whether a picture out of the decoder is named by the packet it came from (its time
    // placed it); otherwise it is counted by the packet that pushed it out, as in an AVI.
    bool namesPicturesByPacket() const
    {
        return presentsByTime() && !m_streamIndex->timesInDecodeOrder();
    }
    AVRational timeBase() const { return m_streamIndex->timeBase(); }
    // Where a plain decode from the start shows nothing for these packets (no parameter sets
    // nor keyframe before them yet), their pictures are no positions; the rest close up.
    // False when no position would be left.
    bool dropPositions(const std::vector<int> &packetIndices)
    {
        return m_streamIndex->dropPositions(packetIndices, m_info, m_index);
    }
    // How far to turn each picture clockwise to show it upright (0, 90, 180 or 270), as the
    // stream's display matrix says; info() gives the upright size, these the decoded one.
    int clockwise() const { return m_clockwise; }
    // Where the stream says nothing, the first picture decoded may: H.264 and HEVC carry the
    // turn in an SEI message, which is all a transport stream from a phone has. Only the
    // first call counts, so that the size never changes once pictures have been shown.
    void learnRotationFrom(const AVFrame *picture);
    int decodedWidth() const { return m_decodedWidth; }
    int decodedHeight() const { return m_decodedHeight; }

    // False once the file on disk has been deleted or rewritten since it was opened.
    bool unchanged() const;

    // The packets before the first keyframe that a plain decode from the start shows nothing
    // for (see dropSilentLeadIn()), where the index cache's entry knows them.
    const std::optional<std::vector<int>> &keptLeadIn() const { return m_keptLeadIn; }
    // Adds them to the entry this open made, where it made one: none when a decode from the
    // start would not learn all there is to learn from them (see dropSilentLeadIn()).
    void keepLeadIn(const std::optional<std::vector<int>> &silent);

private:
    void turnBy(const int32_t *matrix);
    MediaFile() = default;
    static std::unique_ptr<MediaFile> openHere(const QString &path, OpenError *error,
        const std::atomic<bool> &cancelled, int choice, int *choices, const QString &cache);
    // The entry this open made, kept until the lead-in is known, to be written again with it.
    struct Unfinished {
        QString cache;
        IndexCache::Key key;
        QByteArray parameters; // as the decoder is opened with them
        QByteArray index;
        std::vector<SeekPoint> seekPoints;
    };
    std::vector<SeekPoint> seekPoints() const; // the demuxer's keyframes of the video stream
    void learnSeekPoints(const std::vector<SeekPoint> &points);
    QByteArray headerParameters() const; // the video stream's
    void storeKept(const Unfinished &entry,
        const std::optional<std::vector<int>> &silentLeadIn) const;
    bool buildIndex(const QString &cache);
    bool openKept(const QString &cache, int choice, int *choices);
    bool openDemuxer(OpenError *error);
    bool chooseStream(int choice, int *choices, OpenError *error, bool probe = true);
    bool takeVideoStream(OpenError *error); // its size, codec and turn
    StreamIndex::Source indexSource();
    bool stopScanning() const { return m_cancelled && m_cancelled->load(); }
    bool rewind();

    // What says the file on disk is still the one opened. Checked before every decode, so a
    // plain stat(): QFileInfo's modification time goes through the local time zone, which
    // glibc re-reads from /etc/localtime on every call (a tenth of a small picture's decode).
    struct Identity {
        qint64 size = -1;
        qint64 modifiedSec = 0;
        qint64 modifiedNsec = 0;
        bool operator==(const Identity &) const = default;
    };
    static Identity identityOf(const QByteArray &path);

    QString m_path;
    QByteArray m_localPath;
    qint64 m_fileSize = 0;
    Identity m_identity;
    ff::FormatPtr m_format;
    int m_stream = -1;
    std::unique_ptr<StreamIndex> m_streamIndex; // chosen by the container
    int m_clockwise = 0;
    bool m_rotationKnown = false;
    int m_decodedWidth = 0;
    int m_decodedHeight = 0;
    VideoInfo m_info;
    FrameIndex m_index;
    // Each stream's parameters as the header gave them, before the probe added to them.
    std::vector<QByteArray> m_headerParameters;
    std::optional<Unfinished> m_unfinished;
    std::optional<std::vector<int>> m_keptLeadIn;
    // Nothing read since the demuxer was opened: it stands at the first packet.
    bool m_untouched = false;
    int m_skipBefore = 0; // packets below this number are dropped after a seek
    bool m_rewoundForSkip = false;
    const std::atomic<bool> *m_cancelled = nullptr; // while opening: the caller gave up
};

} // namespace video
