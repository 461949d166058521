#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <memory>
#include <new>

// Owning handles for every FFmpeg object of the device, picture and sound alike: nothing frees
// them by hand, so no error path leaks one.
namespace video::ff {

struct FormatCloser {
    void operator()(AVFormatContext *c) const { avformat_close_input(&c); }
};
struct CodecFreer {
    void operator()(AVCodecContext *c) const { avcodec_free_context(&c); }
};
struct PacketFreer {
    void operator()(AVPacket *p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame *f) const { av_frame_free(&f); }
};
struct ScalerFreer {
    void operator()(SwsContext *s) const { sws_freeContext(s); }
};
struct ResamplerFreer {
    void operator()(SwrContext *s) const { swr_free(&s); }
};

using FormatPtr = std::unique_ptr<AVFormatContext, FormatCloser>;
using CodecPtr = std::unique_ptr<AVCodecContext, CodecFreer>;
using PacketPtr = std::unique_ptr<AVPacket, PacketFreer>;
using FramePtr = std::unique_ptr<AVFrame, FrameFreer>;
using ScalerPtr = std::unique_ptr<SwsContext, ScalerFreer>;
using ResamplerPtr = std::unique_ptr<SwrContext, ResamplerFreer>;

// Out of memory they throw std::bad_alloc, as new does: a null packet or frame handed to the
// demuxer or the decoder would be a crash, and each thread already catches that one.
inline PacketPtr makePacket()
{
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}
inline FramePtr makeFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

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

} // namespace video::ff
