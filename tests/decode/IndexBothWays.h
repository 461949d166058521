#pragma once

// What the tests of the scans of our own share: a file's video stream opened as MediaFile
// opens it, and where two indexes of it part.

#include "platform/video/decode/Container.h"
#include "platform/video/decode/StreamIndex.h"

#include <QFile>
#include <QFileInfo>

#include <string>

namespace indexes {

// The file's video stream `video` (in stream order) with the demuxer reading only it; false
// where the file or the stream is none. `use` may change the source before it builds.
template <typename Use>
bool withVideoSource(const QString &path, int video, Use use)
{
    int code = 0;
    video::ff::FormatPtr format = video::container::open(path, &code);
    if (!format || avformat_find_stream_info(format.get(), nullptr) < 0)
        return false;
    int stream = -1;
    int seen = 0;
    for (unsigned i = 0; i < format->nb_streams; ++i) {
        if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && seen++ == video)
            stream = int(i);
    }
    if (stream < 0)
        return false;
    for (unsigned i = 0; i < format->nb_streams; ++i)
        format->streams[i]->discard = int(i) == stream ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    video::StreamIndex::Source source;
    source.format = &format;
    source.stream = stream;
    source.path = path;
    source.localPath = QFile::encodeName(path);
    source.fileSize = QFileInfo(path).size();
    use(source);
    return true;
}

// Where two indexes of one stream first part (frame count, rate, times, or a packet's place,
// size, keyframe flag, times or position), or empty where they are the same.
inline std::string difference(const video::VideoInfo &a, const video::FrameIndex &ai,
    const video::VideoInfo &b, const video::FrameIndex &bi)
{
    if (a.frameCount != b.frameCount || a.rateNum != b.rateNum || a.rateDen != b.rateDen ||
        a.pictureMs != b.pictureMs || ai.slotCount() != bi.slotCount())
        return "frame count, rate or times";
    if (ai.packetCount() != bi.packetCount())
        return "packet count " + std::to_string(ai.packetCount()) + " against " +
            std::to_string(bi.packetCount());
    for (int i = 0; i < ai.packetCount(); ++i) {
        const video::FrameIndex::Packet &p = ai.packet(i), &q = bi.packet(i);
        if (p.pos != q.pos || p.size != q.size || p.keyframe != q.keyframe || p.dts != q.dts ||
            p.pts != q.pts || p.slot != q.slot)
            return "packet " + std::to_string(i) + ": pos " + std::to_string(p.pos) + "/" +
                std::to_string(q.pos) + " size " + std::to_string(p.size) + "/" +
                std::to_string(q.size) + " key " + std::to_string(p.keyframe) + "/" +
                std::to_string(q.keyframe) + " dts " + std::to_string(p.dts) + "/" +
                std::to_string(q.dts) + " pts " + std::to_string(p.pts) + "/" +
                std::to_string(q.pts) + " slot " + std::to_string(p.slot) + "/" +
                std::to_string(q.slot);
    }
    return {};
}

} // namespace indexes
