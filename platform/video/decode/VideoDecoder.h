#pragma once

#include "platform/video/FFmpegHandles.h"
#include "platform/video/FrameSource.h"
#include "platform/video/OpenError.h"
#include "platform/video/decode/FramePool.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace video {

// One libavcodec video decoder. Every output frame carries the dts of the packet that pushed
// it out, which is how frames are told apart in an AVI, whose packets have no presentation
// times; frame threads keep that as one thread does.
//
// Palettised streams get their palette as side data on the file's first packet only; the
// decoder keeps the last palette it saw and hands it in again after every reset, so a decode
// that starts in the middle of the file still has its colours.
//
// Picture memory comes from a FramePool of the decoder's own, so that frames kept by the
// cache and let go again are reused instead of faulted in afresh.
class VideoDecoder {
public:
    // `intraOnly`: every packet of the file is a keyframe, so a seek decodes one packet.
    // `timeBase`: the stream's, where packets carry presentation times. `options`: where the
    // picture memory comes from.
    static std::unique_ptr<VideoDecoder> open(const AVCodecParameters *par, bool intraOnly,
        OpenError *error, AVRational timeBase = AVRational{1, 1},
        const DecodeOptions &options = {});

    // The frame threads a decoder of such a stream runs (the bench's decoding floor uses
    // the same).
    static int frameThreads(const AVCodecParameters *par, bool intraOnly);

    // Sends the packet (nullptr: end of stream) and hands every frame that comes out to
    // `onFrame`. False when the decoder refuses the packet; later packets may still work.
    bool decode(AVPacket *packet, const std::function<void(AVFrame *)> &onFrame);
    // Forgets all pictures: the next packet must start a new decode (a keyframe).
    void reset();
    // Whether the packets sent from now on decode pictures that no other picture references
    // (libavcodec's skip_frame): such pictures then never come out at all. Those whose
    // header says so are not even sent (UnreferencedPicture.h).
    void setSkipNonReference(bool skip)
    {
        m_context->skip_frame = skip ? AVDISCARD_NONREF : AVDISCARD_DEFAULT;
    }
    // What a picture decoded in full has cost so far, as the time a machine with nothing
    // else to do would take: the process's CPU time over each full decode (skipped pictures
    // not counted), shared by the frame threads. Unlike the wall time, it does not grow
    // threefold when other programs keep the cores busy. 0 before any full decode.
    double secondsPerPicture() const;
    qint64 fullDecodes() const { return m_fullDecodes; }
    // Packets kept from the decoder as pictures it would have skipped.
    qint64 packetsLeftOut() const { return m_leftOut; }
    // Frames the decoder holds back for reordering; a frame's display slot is the dts of the
    // packet that pushed it out less this.
    int delay() const { return m_context->has_b_frames; }
    void rememberPalette(const AVPacket *packet);
    void setPalette(const std::vector<uint8_t> &palette) { m_palette = palette; }
    // Null when the decoder uses libavcodec's pool.
    const FramePool *framePool() const { return m_pool.get(); }
    FramePool *framePool() { return m_pool.get(); }

private:
    VideoDecoder() = default;
    bool leavesOut(const AVPacket *packet) const;

    std::unique_ptr<FramePool> m_pool; // before the context, which asks it for memory
    ff::CodecPtr m_context;
    ff::FramePtr m_frame;
    ff::FramePtr m_copy; // of a picture in the decoder's own memory, in the pool's
    std::vector<uint8_t> m_palette;
    bool m_paletteSent = false;
    double m_cpuSeconds = 0; // over the full decodes
    qint64 m_fullDecodes = 0;
    qint64 m_leftOut = 0;
    bool m_packsPictures = false; // a packet of the stream held two (never reset)
};

// Pixel memory for converted images, handed back when the last copy of an image goes
// (wherever that is: images are thread-safe to drop). A fresh 1920x1080 RGB32 image is 8 MB
// that the system faults in page by page on the first write, about 20 ms on this kind of
// virtual machine, twice the conversion. Images are therefore cut from huge-page slabs (about
// 0.5 ms for 8 MB of memory the system had handed out before), of one pool for the process
// that keeps two images' worth idle (none of a 4K picture): whoever converts again reuses an
// image of its own where it can (the picture on show, an image the cache no longer needs),
// and the spare serves the rest (a seek, whose new picture replaces the one on show only
// once it is made).
class ImageBufferPool {
public:
    // A width x height RGB32 image over pooled memory; null when out of memory.
    static QImage makeImage(int width, int height);
};

// What swscale is told of a picture: its plain format (the deprecated J formats are the plain
// ones at full range), whether it is YUV, and its matrix and range.
struct SwsSource {
    AVPixelFormat format = AV_PIX_FMT_NONE;
    const AVPixFmtDescriptor *desc = nullptr;
    bool yuv = false;
};
// Sets `scaler` up (reusing it where it can) to turn the frame into width x height BGRA with
// faithful colour: accurate rounding, full horizontal chroma, full-range JPEG pictures kept
// full range, BT.709 and the rarer matrices where the stream says so. False when swscale
// cannot; `source`, when given, gets what it was told.
bool setUpScaler(ff::ScalerPtr &scaler, const AVFrame *frame, int width, int height,
    SwsSource *source);

// Turns decoded pictures into RGB32 images at a fixed size. Planar 8-bit YUV at source size
// (nearly every codec's output) goes through YuvToRgb, our own faithful conversion, about 1 ms
// for 1920x1080. Everything else goes through swscale, keeping full-range JPEG pictures
// full-range and giving palettised and 32-bit DIB pictures an opaque alpha; accurate rounding
// and full horizontal chroma give faithful colour (swscale's cheaper settings put colour edges
// up to 220 levels off).
//
// Large YUV pictures left to swscale are converted as two bands on two threads, each with a
// scaler of its own set up as for the whole picture and asked for its rows only, so that the
// result is the one-pass result to the bit (the tests compare with a one-pass conversion).
class FrameConverter {
public:
    static constexpr qint64 kBandedPixels = 640 * 480;

    // `clockwise`: 0, 90, 180 or 270 degrees to turn the picture upright (a phone's
    // portrait video); width and height are the decoded picture's.
    QImage convert(const AVFrame *frame, int width, int height, int clockwise = 0);
    // The same into `image`'s own memory where it is the only holder of it and has the size
    // and format (else into a new image); false, and `image` as it was, when it cannot.
    bool convertInto(const AVFrame *frame, int width, int height, int clockwise, QImage &image);

private:
    QImage convertUnturned(const AVFrame *frame, int width, int height, QImage *reuse);
    bool convertInBands(const AVFrame *frame, AVPixelFormat format, QImage &image);

    ff::ScalerPtr m_scaler;
    ff::ScalerPtr m_lowerScaler; // the lower band's
};

} // namespace video
