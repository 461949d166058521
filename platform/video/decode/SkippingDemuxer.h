#pragma once

#include "platform/video/FFmpegHandles.h"

#include <QByteArray>

#include <cstdint>
#include <memory>

namespace video {

class PayloadSkippingReader;

// A second demuxer of the same file over a reader that serves the video payloads as zeros,
// for one scan of the packets' times.
struct SkippingDemuxer {
    std::unique_ptr<PayloadSkippingReader> reader;
    int64_t samples = 0; // the video samples the tables list, empty ones left out
    AVIOContext *io = nullptr;
    ff::FormatPtr format;

    SkippingDemuxer();
    SkippingDemuxer(const SkippingDemuxer &) = delete;
    SkippingDemuxer &operator=(const SkippingDemuxer &) = delete;
    ~SkippingDemuxer();
};

// An MP4 or MOV has its sample tables in hand once open: a second demuxer over them, for
// which the video payloads cost nothing to read. Null where the file is no such case.
std::unique_ptr<SkippingDemuxer> openSkippingDemuxer(AVFormatContext *main, int stream,
    const QByteArray &path);

} // namespace video
