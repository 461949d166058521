#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

#include <memory>

// Owning handles for the FFmpeg objects of the sound path, so that no error path leaks one.
namespace avi::audio {

struct FormatContextCloser {
    void operator()(AVFormatContext *p) const { avformat_close_input(&p); }
};
struct CodecContextFreer {
    void operator()(AVCodecContext *p) const { avcodec_free_context(&p); }
};
struct PacketFreer {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame *p) const { av_frame_free(&p); }
};
struct SwrFreer {
    void operator()(SwrContext *p) const { swr_free(&p); }
};
struct FilterGraphFreer {
    void operator()(AVFilterGraph *p) const { avfilter_graph_free(&p); }
};

using FormatContextPtr = std::unique_ptr<AVFormatContext, FormatContextCloser>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using SwrPtr = std::unique_ptr<SwrContext, SwrFreer>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, FilterGraphFreer>;

// A channel layout that frees what it holds (custom layouts own a map).
class ChannelLayout {
public:
    ChannelLayout() = default;
    explicit ChannelLayout(int channels) { av_channel_layout_default(&m_layout, channels); }
    ChannelLayout(const ChannelLayout &) = delete;
    ChannelLayout &operator=(const ChannelLayout &) = delete;
    ~ChannelLayout() { av_channel_layout_uninit(&m_layout); }
    AVChannelLayout *get() { return &m_layout; }
    const AVChannelLayout *get() const { return &m_layout; }

private:
    AVChannelLayout m_layout{};
};

} // namespace avi::audio
