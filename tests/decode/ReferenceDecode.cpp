#include "tests/decode/ReferenceDecode.h"

#include "platform/avi/decode/FFmpegHandles.h"
#include "platform/avi/decode/VideoDecoder.h"

#include <map>

ReferenceDecode referenceDecode(const QString &path)
{
    ReferenceDecode result;
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return result;
    avi::ff::FormatPtr format(raw);
    avformat_find_stream_info(format.get(), nullptr);
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return result;
    AVStream *st = format->streams[stream];
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    avi::ff::CodecPtr context(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(context.get(), st->codecpar);
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return result;

    // Each picture's slot: the dts of the packet that pushed it out less the reorder delay;
    // pictures flushed at the end follow on one slot each.
    std::map<int, QImage> bySlot;
    avi::FrameConverter converter;
    auto frame = avi::ff::makeFrame();
    int last = -1;
    auto drain = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            int slot = last + 1;
            if (frame->pkt_dts != AV_NOPTS_VALUE && frame->pkt_dts - context->has_b_frames > last)
                slot = int(frame->pkt_dts - context->has_b_frames);
            last = slot;
            bySlot[slot] = converter.convert(frame.get(), st->codecpar->width,
                st->codecpar->height);
            ++result.decodedFrames;
            av_frame_unref(frame.get());
        }
    };
    auto packet = avi::ff::makePacket();
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(context.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(context.get(), nullptr);
    drain();

    const int slotCount = int(std::max<int64_t>(st->nb_frames, bySlot.empty() ? 0 :
        bySlot.rbegin()->first + 1));
    for (int p = 0; p < slotCount && !bySlot.empty(); ++p) {
        auto it = bySlot.upper_bound(p);
        result.framesByPosition.push_back(
            it == bySlot.begin() ? it->second : std::prev(it)->second);
    }
    return result;
}
