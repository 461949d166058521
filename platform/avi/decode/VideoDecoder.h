#pragma once

#include "platform/avi/decode/FFmpegHandles.h"

#include <QImage>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

namespace avi {

// One libavcodec video decoder, single-threaded so that every output frame carries the dts of
// the packet that pushed it out (which is how frames are told apart in an AVI, whose packets
// have no presentation times).
//
// Palettised streams get their palette as side data on the file's first packet only; the
// decoder keeps the last palette it saw and hands it in again after every reset, so a decode
// that starts in the middle of the file still has its colours.
class VideoDecoder {
public:
    static std::unique_ptr<VideoDecoder> open(const AVCodecParameters *par, QString *error);

    // Sends the packet (nullptr: end of stream) and hands every frame that comes out to
    // `onFrame`. False when the decoder refuses the packet; later packets may still work.
    bool decode(AVPacket *packet, const std::function<void(AVFrame *)> &onFrame);
    // Forgets all pictures: the next packet must start a new decode (a keyframe).
    void reset();
    // Frames the decoder holds back for reordering; a frame's display slot is the dts of the
    // packet that pushed it out less this.
    int delay() const { return m_context->has_b_frames; }
    void rememberPalette(const AVPacket *packet);
    void setPalette(const std::vector<uint8_t> &palette) { m_palette = palette; }

private:
    VideoDecoder() = default;

    ff::CodecPtr m_context;
    ff::FramePtr m_frame;
    std::vector<uint8_t> m_palette;
    bool m_paletteSent = false;
};

// Turns decoded pictures into RGB32 images at a fixed size with swscale, keeping full-range
// JPEG pictures full-range and giving palettised and 32-bit DIB pictures an opaque alpha.
// Accurate rounding and full horizontal chroma give faithful colour; bilinear chroma
// upsampling costs half of bicubic (about 20 ms against 40 for 1920x1080 on one core).
class FrameConverter {
public:
    QImage convert(const AVFrame *frame, int width, int height);

private:
    ff::ScalerPtr m_scaler;
};

} // namespace avi
