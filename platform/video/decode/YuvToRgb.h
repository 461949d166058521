#pragma once

extern "C" {
#include <libavutil/frame.h>
}

#include <cstdint>

namespace video {

// Planar 8-bit YUV (4:2:0, 4:2:2, 4:4:4, limited or full range) to RGB32 at the same size,
// in integer arithmetic of our own: a decoded frame becomes the same image on every machine
// and thread, row by row, so a picture can be converted in bands on several threads and
// still be bit-identical to one pass.
//
// Why not swscale: its faithful path (accurate rounding, chroma interpolated across the
// full width) costs about 10 ms a 1920x1080 picture on one core, more than decoding it; its
// fast path takes the nearest chroma sample, which puts colour edges visibly off. This does
// what the faithful path does (chroma interpolated bilinearly from where the format sites it,
// BT.601 or BT.709 coefficients, rounding once at the end) for a fraction of the cost.
class YuvToRgb {
public:
    // Whether the frame is in a format this converts; others go to swscale.
    static bool handles(const AVFrame *frame);
    // Rows [firstRow, endRow) of the frame into BGRA memory (QImage::Format_RGB32).
    static void convertRows(const AVFrame *frame, uint8_t *dst, int dstStride, int firstRow,
        int endRow);
};

} // namespace video
