#include "platform/video/decode/VideoDecoder.h"

#include "platform/video/decode/UnreferencedPicture.h"
#include "platform/video/decode/YuvToRgb.h"

#include <QTransform>

extern "C" {
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>
#include <thread>

namespace video {

namespace {

// Every thread's, the frame threads' included.
double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

std::unique_ptr<VideoDecoder> VideoDecoder::open(const AVCodecParameters *par, bool intraOnly,
    OpenError *error, AVRational timeBase, const DecodeOptions &options)
{
    const AVCodec *codec = avcodec_find_decoder(par->codec_id);
    std::unique_ptr<VideoDecoder> decoder(new VideoDecoder);
    if (codec)
        decoder->m_context.reset(avcodec_alloc_context3(codec));
    if (!codec || !decoder->m_context ||
        avcodec_parameters_to_context(decoder->m_context.get(), par) < 0) {
        if (error)
            *error = OpenError::Why::CodecUnsupported;
        return nullptr;
    }
    AVCodecContext *c = decoder->m_context.get();
    c->thread_count = frameThreads(par, intraOnly);
    c->thread_type = FF_THREAD_FRAME;
    c->pkt_timebase = timeBase;
    if (options.pooledMemory) {
        const int picture = par->format >= 0
            ? av_image_get_buffer_size(AVPixelFormat(par->format), par->width, par->height, 1)
            : -1;
        decoder->m_pool = std::make_unique<FramePool>(
            picture > 0 ? FramePool::idleCapFor(std::size_t(picture)) : FramePool::kDefaultIdleCap,
            options.prefaultedMemory);
        decoder->m_pool->attach(c);
    }
    if (avcodec_open2(c, codec, nullptr) < 0) {
        if (error)
            *error = OpenError::Why::DecoderUnusable;
        return nullptr;
    }
    decoder->m_frame = ff::makeFrame();
    decoder->m_copy = ff::makeFrame();
    return decoder;
}

int VideoDecoder::frameThreads(const AVCodecParameters *par, bool intraOnly)
{
    // Frame threads keep each frame's pkt_dts that of the packet whose decode released it,
    // as one thread does; slices are not threaded (x264 and Xvid write one slice a frame).
    // They pay off on a run of dependent frames. Where every packet is a keyframe, a seek
    // decodes one packet, and frame threads would only hold it back until the next packet
    // is in and make every restart wait for the other thread; small pictures decode faster
    // than threads hand them over.
    const bool small = qint64(par->width) * par->height <= 640 * 480;
    return intraOnly || small ? 1 : 2;
}

void VideoDecoder::rememberPalette(const AVPacket *packet)
{
    size_t size = 0;
    const uint8_t *data = av_packet_get_side_data(packet, AV_PKT_DATA_PALETTE, &size);
    if (data && size == AVPALETTE_SIZE)
        m_palette.assign(data, data + size);
}

bool VideoDecoder::decode(AVPacket *packet, const std::function<void(AVFrame *)> &onFrame)
{
    if (leavesOut(packet)) {
        ++m_leftOut;
        return true;
    }
    if (packet && !m_packsPictures)
        m_packsPictures = packsPictures(m_context->codec_id, packet->data, packet->size);
    if (packet) {
        rememberPalette(packet);
        size_t size = 0;
        const bool hasPalette = av_packet_get_side_data(packet, AV_PKT_DATA_PALETTE, &size);
        if (!hasPalette && !m_paletteSent && !m_palette.empty()) {
            uint8_t *side = av_packet_new_side_data(packet, AV_PKT_DATA_PALETTE, AVPALETTE_SIZE);
            if (side)
                std::memcpy(side, m_palette.data(), AVPALETTE_SIZE);
        }
        m_paletteSent = true;
    }
    auto drain = [&] {
        while (avcodec_receive_frame(m_context.get(), m_frame.get()) == 0) {
            // Pictures in memory the decoder got elsewhere are handed on as pooled copies,
            // so that memory goes back at once; a copy is cheap beside a fresh page fault.
            const bool copied = m_pool && m_copy && !m_pool->owns(m_frame->buf[0]) &&
                m_pool->copyFrom(m_frame.get(), m_copy.get());
            if (copied)
                av_frame_unref(m_frame.get());
            onFrame(copied ? m_copy.get() : m_frame.get());
            av_frame_unref(m_frame.get());
            av_frame_unref(m_copy.get());
        }
    };
    const bool full = packet && m_context->skip_frame == AVDISCARD_DEFAULT;
    const double cpuBefore = full ? processCpuSeconds() : 0;
    int sent = avcodec_send_packet(m_context.get(), packet);
    if (sent == AVERROR(EAGAIN)) {
        drain();
        sent = avcodec_send_packet(m_context.get(), packet);
    }
    drain();
    if (full) {
        m_cpuSeconds += processCpuSeconds() - cpuBefore;
        ++m_fullDecodes;
    }
    return sent >= 0 || sent == AVERROR_EOF;
}

// A picture the decoder would skip, known as such before it is sent. Only once the decoder
// reorders: an MPEG-4 stream that claims to have no B-frames is corrected by the first B-VOP
// header the decoder parses, which a packet left out would keep from it.
bool VideoDecoder::leavesOut(const AVPacket *packet) const
{
    return packet && m_context->skip_frame == AVDISCARD_NONREF && m_context->has_b_frames > 0 &&
        !m_packsPictures && unreferencedPicture(m_context->codec_id, packet->data, packet->size);
}

double VideoDecoder::secondsPerPicture() const
{
    if (m_fullDecodes == 0)
        return 0;
    return m_cpuSeconds / double(m_fullDecodes) / double(std::max(1, m_context->thread_count));
}

void VideoDecoder::reset()
{
    avcodec_flush_buffers(m_context.get());
    m_context->skip_frame = AVDISCARD_DEFAULT;
    m_paletteSent = false;
}

QImage ImageBufferPool::makeImage(int width, int height)
{
    static FramePool memory{0};
    const qsizetype bytesPerLine = qsizetype(width) * 4;
    const size_t size = size_t(bytesPerLine) * size_t(height);
    // Two images' worth kept idle (up to the pool's usual cap): a seek lets the picture on
    // show go as it converts the next, and without a spare every image is faulted in anew.
    memory.setIdleCap(std::min(2 * size, FramePool::kDefaultIdleCap));
    AVBufferRef *buffer = memory.get(size);
    if (!buffer)
        return {};
    const auto unref = [](void *opaque) {
        auto *ref = static_cast<AVBufferRef *>(opaque);
        av_buffer_unref(&ref);
    };
    QImage image(buffer->data, width, height, bytesPerLine, QImage::Format_RGB32, unref, buffer);
    if (image.isNull()) // the cleanup function is only called for images that were made
        av_buffer_unref(&buffer);
    return image;
}

bool setUpScaler(ff::ScalerPtr &scaler, const AVFrame *frame, int width, int height,
    SwsSource *source)
{
    SwsSource s;
    s.format = AVPixelFormat(frame->format);
    bool fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    // The deprecated J formats are the plain ones at full range.
    switch (s.format) {
    case AV_PIX_FMT_YUVJ420P: s.format = AV_PIX_FMT_YUV420P; fullRange = true; break;
    case AV_PIX_FMT_YUVJ422P: s.format = AV_PIX_FMT_YUV422P; fullRange = true; break;
    case AV_PIX_FMT_YUVJ444P: s.format = AV_PIX_FMT_YUV444P; fullRange = true; break;
    case AV_PIX_FMT_YUVJ440P: s.format = AV_PIX_FMT_YUV440P; fullRange = true; break;
    case AV_PIX_FMT_YUVJ411P: s.format = AV_PIX_FMT_YUV411P; fullRange = true; break;
    default: break;
    }
    s.desc = av_pix_fmt_desc_get(s.format);
    if (!s.desc)
        return false;
    s.yuv = !(s.desc->flags & AV_PIX_FMT_FLAG_RGB) && !(s.desc->flags & AV_PIX_FMT_FLAG_PAL);
    scaler.reset(sws_getCachedContext(scaler.release(), frame->width, frame->height, s.format,
        width, height, AV_PIX_FMT_BGRA, SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
        nullptr, nullptr, nullptr));
    if (!scaler)
        return false;
    if (s.yuv) {
        int space = SWS_CS_DEFAULT;
        if (frame->colorspace == AVCOL_SPC_BT709 || frame->colorspace == AVCOL_SPC_FCC ||
            frame->colorspace == AVCOL_SPC_SMPTE240M || frame->colorspace == AVCOL_SPC_BT2020_NCL)
            space = int(frame->colorspace);
        sws_setColorspaceDetails(scaler.get(), sws_getCoefficients(space), fullRange ? 1 : 0,
            sws_getCoefficients(SWS_CS_DEFAULT), 1, 0, 1 << 16, 1 << 16);
    }
    if (source)
        *source = s;
    return true;
}

QImage FrameConverter::convert(const AVFrame *frame, int width, int height, int clockwise)
{
    QImage image;
    convertInto(frame, width, height, clockwise, image);
    return image;
}

bool FrameConverter::convertInto(const AVFrame *frame, int width, int height, int clockwise,
    QImage &image)
{
    if (clockwise == 0)
        return !convertUnturned(frame, width, height, &image).isNull();
    QImage upright = convertUnturned(frame, width, height, nullptr);
    if (upright.isNull())
        return false;
    image = clockwise == 180 ? upright.mirrored(true, true)
                             : upright.transformed(QTransform().rotate(clockwise));
    return true;
}

// Into `*reuse` when it can take the picture in place, else into a new image that then
// replaces it; a null image, and `*reuse` as it was, when the frame cannot be converted.
QImage FrameConverter::convertUnturned(const AVFrame *frame, int width, int height,
    QImage *reuse)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || width <= 0 || height <= 0)
        return {};
    const bool direct = width == frame->width && height == frame->height &&
        YuvToRgb::handles(frame);
    SwsSource source;
    if (!direct && !setUpScaler(m_scaler, frame, width, height, &source))
        return {};
    // Only the sole holder may be written over: a copy elsewhere (the cache's, a capture's)
    // keeps the picture it was given.
    const bool inPlace = reuse && reuse->isDetached() && reuse->width() == width &&
        reuse->height() == height && reuse->format() == QImage::Format_RGB32;
    QImage fresh;
    if (!inPlace && (fresh = ImageBufferPool::makeImage(width, height)).isNull())
        return {};
    QImage &image = inPlace ? *reuse : fresh;
    if (direct) {
        YuvToRgb::convertRows(frame, image.bits(), int(image.bytesPerLine()), 0, height);
    } else {
        const bool banded = source.yuv && width == frame->width && height == frame->height &&
            qint64(width) * height >= kBandedPixels &&
            setUpScaler(m_lowerScaler, frame, width, height, nullptr) &&
            convertInBands(frame, source.format, image);
        if (!banded) {
            uint8_t *dst[4] = {image.bits(), nullptr, nullptr, nullptr};
            int dstStride[4] = {int(image.bytesPerLine()), 0, 0, 0};
            if (sws_scale(m_scaler.get(), frame->data, frame->linesize, 0, frame->height, dst,
                    dstStride) <= 0)
                return {};
        }
        if (source.desc->flags & (AV_PIX_FMT_FLAG_ALPHA | AV_PIX_FMT_FLAG_PAL)) {
            // DIB alpha bytes are reserved, not transparency.
            for (int y = 0; y < height; ++y) {
                auto *line = reinterpret_cast<uint32_t *>(image.scanLine(y));
                for (int x = 0; x < width; ++x)
                    line[x] |= 0xff000000u;
            }
        }
    }
    if (reuse && !inPlace)
        *reuse = fresh;
    return image;
}

bool FrameConverter::convertInBands(const AVFrame *frame, AVPixelFormat format, QImage &image)
{
    const int height = image.height();
    const int middle = (height / 2) & ~15;
    const int align = std::max(sws_receive_slice_alignment(m_scaler.get()),
        sws_receive_slice_alignment(m_lowerScaler.get()));
    if (middle <= 0 || align <= 0 || middle % align != 0)
        return false;
    ff::FramePtr source(av_frame_clone(frame));
    if (!source)
        return false;
    source->format = format; // the plain format the scalers were set up for
    uchar *bits = image.bits();
    // The image owns its memory; the frames only borrow it (and must have a buffer, or
    // swscale would allocate one of its own to write into).
    auto borrow = [&]() -> ff::FramePtr {
        ff::FramePtr dst = ff::makeFrame();
        if (!dst)
            return nullptr;
        dst->width = image.width();
        dst->height = height;
        dst->format = AV_PIX_FMT_BGRA;
        dst->data[0] = bits;
        dst->linesize[0] = int(image.bytesPerLine());
        dst->buf[0] = av_buffer_create(bits, size_t(image.sizeInBytes()),
            [](void *, uint8_t *) {}, nullptr, 0);
        return dst->buf[0] ? std::move(dst) : nullptr;
    };
    ff::FramePtr upperDst = borrow();
    ff::FramePtr lowerDst = borrow();
    if (!upperDst || !lowerDst)
        return false;
    const auto run = [&source](SwsContext *scaler, AVFrame *dst, int firstRow, int rows) {
        if (sws_frame_start(scaler, dst, source.get()) < 0)
            return false;
        const bool done = sws_send_slice(scaler, 0, unsigned(source->height)) >= 0 &&
            sws_receive_slice(scaler, unsigned(firstRow), unsigned(rows)) >= 0;
        sws_frame_end(scaler);
        return done;
    };
    bool lowerDone = false;
    std::thread lower;
    try {
        lower = std::thread([&] {
            lowerDone = run(m_lowerScaler.get(), lowerDst.get(), middle, height - middle);
        });
    } catch (const std::system_error &) {
        return false; // no thread to be had: one pass instead
    }
    const bool upperDone = run(m_scaler.get(), upperDst.get(), 0, middle);
    lower.join();
    return upperDone && lowerDone;
}

} // namespace video
