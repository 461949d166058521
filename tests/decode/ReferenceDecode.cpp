#include "tests/decode/ReferenceDecode.h"

#include "platform/video/FFmpegHandles.h"
#include "platform/video/decode/VideoDecoder.h"
#include "platform/video/decode/YuvToRgb.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <cstring>
#include <map>

namespace {

// The picture as one plain pass over the whole frame gives it, with the colour rules of the
// frame source (our own conversion for planar YUV, checked against the textbook formulas in
// its own test; swscale for the rest, full-range JPEG pictures, BT.709 where the stream says
// so, opaque alpha) but none of its machinery: no recycled memory, no splitting into bands.
QImage referenceConvert(const AVFrame *frame, int width, int height)
{
    if (width == frame->width && height == frame->height && video::YuvToRgb::handles(frame)) {
        QImage image(width, height, QImage::Format_RGB32);
        video::YuvToRgb::convertRows(frame, image.bits(), int(image.bytesPerLine()), 0, height);
        return image;
    }
    video::ff::ScalerPtr scaler;
    if (!video::setUpScaler(scaler, frame, width, height, nullptr))
        return {};
    QImage image(width, height, QImage::Format_RGB32);
    uint8_t *dst[4] = {image.bits(), nullptr, nullptr, nullptr};
    int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
    sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
        for (int x = 0; x < width; ++x)
            line[x] |= 0xff000000u;
    }
    return image;
}

} // namespace

int walkReferenceDecode(const QString &path,
    const std::function<void(int slot, const AVFrame *picture, int width, int height)> &onPicture)
{
    AVFormatContext *raw = nullptr;
    if (avformat_open_input(&raw, path.toLocal8Bit().constData(), nullptr, nullptr) < 0)
        return -1;
    video::ff::FormatPtr format(raw);
    avformat_find_stream_info(format.get(), nullptr);
    const int stream = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (stream < 0)
        return -1;
    AVStream *st = format->streams[stream];
    const AVCodec *codec = avcodec_find_decoder(st->codecpar->codec_id);
    video::ff::CodecPtr context(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(context.get(), st->codecpar);
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return -1;

    // Each picture's slot: in an AVI the dts of the packet that pushed it out less the reorder
    // delay, pictures flushed at the end following on one slot each; elsewhere pictures come
    // out in the order they are shown, one slot each.
    const bool avi = std::strcmp(format->iformat->name, "avi") == 0;
    auto frame = video::ff::makeFrame();
    int last = -1;
    auto drain = [&] {
        while (avcodec_receive_frame(context.get(), frame.get()) == 0) {
            int slot = last + 1;
            if (avi && frame->pkt_dts != AV_NOPTS_VALUE &&
                frame->pkt_dts - context->has_b_frames > last)
                slot = int(frame->pkt_dts - context->has_b_frames);
            last = slot;
            onPicture(slot, frame.get(), st->codecpar->width, st->codecpar->height);
            av_frame_unref(frame.get());
        }
    };
    auto packet = video::ff::makePacket();
    while (av_read_frame(format.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream) {
            avcodec_send_packet(context.get(), packet.get());
            drain();
        }
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(context.get(), nullptr);
    drain();
    return avi ? int(std::max<int64_t>(st->nb_frames, last + 1)) : last + 1;
}

ReferenceDecode referenceDecode(const QString &path)
{
    ReferenceDecode result;
    std::map<int, QImage> bySlot;
    const int slotCount = walkReferenceDecode(
        path, [&](int slot, const AVFrame *picture, int width, int height) {
            bySlot[slot] = referenceConvert(picture, width, height);
        });
    result.framesByPosition = byPosition(bySlot, slotCount);
    return result;
}
