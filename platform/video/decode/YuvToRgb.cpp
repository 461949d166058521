#include "platform/video/decode/YuvToRgb.h"

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <algorithm>
#include <cmath>
#include <vector>

// The row loops are written to vectorise (this file is built at -O3); on x86-64 a second
// copy for AVX2 is picked at load time where the processor has it, about six times faster
// than the baseline copy. Not under ThreadSanitizer: GCC's resolver for the clones runs
// before the sanitizer's runtime is up, and every such program dies at load.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) \
    && !defined(__SANITIZE_THREAD__)
#define KURIMO_ROW_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define KURIMO_ROW_KERNEL
#endif

namespace video {

namespace {

struct Layout {
    int shiftX = 0; // chroma subsampling, as a power of two
    int shiftY = 0;
    bool fullRange = false;
};

bool layoutOf(const AVFrame *frame, Layout *layout)
{
    Layout l;
    l.fullRange = frame->color_range == AVCOL_RANGE_JPEG;
    switch (frame->format) {
    case AV_PIX_FMT_YUVJ420P: l.fullRange = true; [[fallthrough]];
    case AV_PIX_FMT_YUV420P: l.shiftX = 1; l.shiftY = 1; break;
    case AV_PIX_FMT_YUVJ422P: l.fullRange = true; [[fallthrough]];
    case AV_PIX_FMT_YUV422P: l.shiftX = 1; break;
    case AV_PIX_FMT_YUVJ444P: l.fullRange = true; [[fallthrough]];
    case AV_PIX_FMT_YUV444P: break;
    default: return false;
    }
    if (layout)
        *layout = l;
    return true;
}

// Fixed-point coefficients. Chroma arrives interpolated with 4 extra bits (weights summing to
// 16); everything is scaled by 2^16 and rounded once.
struct Coefficients {
    int32_t y = 0;  // per luma level
    int32_t yOffset = 0;
    int32_t rv = 0; // per chroma level x16
    int32_t gu = 0;
    int32_t gv = 0;
    int32_t bu = 0;
};

Coefficients coefficientsFor(const AVFrame *frame, bool fullRange)
{
    double kr = 0.299, kb = 0.114; // BT.601: what AVI codecs mean unless told otherwise
    if (frame->colorspace == AVCOL_SPC_BT709) {
        kr = 0.2126;
        kb = 0.0722;
    }
    const double kg = 1.0 - kr - kb;
    const double yScale = fullRange ? 1.0 : 255.0 / 219.0;
    const double cScale = (fullRange ? 1.0 : 255.0 / 224.0) / 16.0;
    const double one = 65536.0;
    Coefficients c;
    c.y = int32_t(std::lround(yScale * one));
    c.yOffset = fullRange ? 0 : 16;
    c.rv = int32_t(std::lround(2.0 * (1.0 - kr) * cScale * one));
    c.gu = int32_t(std::lround(2.0 * kb * (1.0 - kb) / kg * cScale * one));
    c.gv = int32_t(std::lround(2.0 * kr * (1.0 - kr) / kg * cScale * one));
    c.bu = int32_t(std::lround(2.0 * (1.0 - kb) * cScale * one));
    return c;
}

// Where chroma samples sit against luma, horizontally: on the even luma samples (MPEG-2 and
// H.264 say so) or halfway between two (JPEG, MPEG-1, and what is assumed when a frame does
// not say); vertically in 4:2:0, halfway between two rows unless the frame says they sit on
// the top one.
struct Siting {
    bool horizontalCentre = false;
    bool verticalTop = false;
};

Siting sitingOf(const AVFrame *frame)
{
    Siting s;
    switch (frame->chroma_location) {
    case AVCHROMA_LOC_CENTER: s.horizontalCentre = true; break;
    case AVCHROMA_LOC_LEFT: break;
    case AVCHROMA_LOC_TOPLEFT: s.verticalTop = true; break;
    case AVCHROMA_LOC_TOP: s.horizontalCentre = true; s.verticalTop = true; break;
    default: s.horizontalCentre = true; break;
    }
    return s;
}

// One chroma plane's row for luma row y, interpolated vertically: weights summing to 4.
KURIMO_ROW_KERNEL void verticalRow(const AVFrame *frame, int plane, int y, const Layout &l,
    const Siting &s, int chromaWidth, int chromaHeight, int16_t *out)
{
    const uint8_t *base = frame->data[plane];
    const int stride = frame->linesize[plane];
    if (l.shiftY == 0) {
        const uint8_t *row = base + ptrdiff_t(y) * stride;
        for (int x = 0; x < chromaWidth; ++x)
            out[x] = int16_t(4 * row[x]);
        return;
    }
    const int k = y >> 1;
    int near = k, far = k, wNear = 4, wFar = 0;
    if (s.verticalTop) {
        if (y & 1) {
            far = std::min(k + 1, chromaHeight - 1);
            wNear = 2;
            wFar = 2;
        }
    } else {
        far = (y & 1) ? std::min(k + 1, chromaHeight - 1) : std::max(k - 1, 0);
        wNear = 3;
        wFar = 1;
    }
    const uint8_t *a = base + ptrdiff_t(near) * stride;
    const uint8_t *b = base + ptrdiff_t(far) * stride;
    for (int x = 0; x < chromaWidth; ++x)
        out[x] = int16_t(wNear * a[x] + wFar * b[x]);
}

// The same row at full width: weights summing to 16 in all. Edges are held flat; the
// middle runs without a branch, so that the compiler can vectorise it.
KURIMO_ROW_KERNEL void horizontalRow(const int16_t *in, int chromaWidth, int width,
    const Layout &l, const Siting &s, int16_t *out)
{
    if (l.shiftX == 0) {
        for (int x = 0; x < width; ++x)
            out[x] = int16_t(4 * in[x]);
        return;
    }
    const auto at = [&](int k) { return in[std::clamp(k, 0, chromaWidth - 1)]; };
    const auto pair = [&](int k) {
        if (s.horizontalCentre) {
            out[2 * k] = int16_t(3 * in[k] + at(k - 1));
            if (2 * k + 1 < width)
                out[2 * k + 1] = int16_t(3 * in[k] + at(k + 1));
        } else {
            out[2 * k] = int16_t(4 * in[k]);
            if (2 * k + 1 < width)
                out[2 * k + 1] = int16_t(2 * (in[k] + at(k + 1)));
        }
    };
    pair(0);
    const int lastFull = chromaWidth - 1; // pairs 1 .. lastFull-1 have both neighbours
    if (s.horizontalCentre) {
        for (int k = 1; k < lastFull; ++k) {
            const int c3 = 3 * in[k];
            out[2 * k] = int16_t(c3 + in[k - 1]);
            out[2 * k + 1] = int16_t(c3 + in[k + 1]);
        }
    } else {
        for (int k = 1; k < lastFull; ++k) {
            out[2 * k] = int16_t(4 * in[k]);
            out[2 * k + 1] = int16_t(2 * (in[k] + in[k + 1]));
        }
    }
    if (lastFull > 0)
        pair(lastFull);
}

KURIMO_ROW_KERNEL void combineRow(const uint8_t *__restrict luma, const int16_t *__restrict u16,
    const int16_t *__restrict v16, int width, const Coefficients &c, uint32_t *__restrict dst)
{
    const int32_t half = 1 << 15;
    const int32_t centre = 128 * 16;
    const int32_t cy = c.y, yOffset = c.yOffset;
    const int32_t bu = c.bu, gu = c.gu, gv = c.gv, rv = c.rv;
    for (int x = 0; x < width; ++x) {
        const int32_t y = (int32_t(luma[x]) - yOffset) * cy + half;
        const int32_t u = int32_t(u16[x]) - centre;
        const int32_t v = int32_t(v16[x]) - centre;
        const int32_t b = std::clamp((y + bu * u) >> 16, 0, 255);
        const int32_t g = std::clamp((y - gu * u - gv * v) >> 16, 0, 255);
        const int32_t r = std::clamp((y + rv * v) >> 16, 0, 255);
        dst[x] = 0xff000000u | uint32_t(r << 16) | uint32_t(g << 8) | uint32_t(b);
    }
}

} // namespace

bool YuvToRgb::handles(const AVFrame *frame)
{
    if (!frame || frame->width <= 0 || frame->height <= 0 || !layoutOf(frame, nullptr) ||
        !frame->data[0] || !frame->data[1] || !frame->data[2])
        return false;
    switch (frame->colorspace) {
    case AVCOL_SPC_UNSPECIFIED:
    case AVCOL_SPC_BT470BG:
    case AVCOL_SPC_SMPTE170M:
    case AVCOL_SPC_BT709:
        return true;
    default:
        return false; // the rarer matrices are swscale's
    }
}

void YuvToRgb::convertRows(const AVFrame *frame, uint8_t *dst, int dstStride, int firstRow,
    int endRow)
{
    Layout l;
    if (!layoutOf(frame, &l))
        return;
    const Coefficients c = coefficientsFor(frame, l.fullRange);
    const Siting s = sitingOf(frame);
    const int width = frame->width;
    const int chromaWidth = (width + (1 << l.shiftX) - 1) >> l.shiftX;
    const int chromaHeight = (frame->height + (1 << l.shiftY) - 1) >> l.shiftY;
    std::vector<int16_t> vertical(size_t(chromaWidth) * 2);
    std::vector<int16_t> full(size_t(width) * 2);
    int16_t *uv = vertical.data();
    int16_t *vv = uv + chromaWidth;
    int16_t *u16 = full.data();
    int16_t *v16 = u16 + width;
    for (int y = std::max(firstRow, 0); y < std::min(endRow, frame->height); ++y) {
        verticalRow(frame, 1, y, l, s, chromaWidth, chromaHeight, uv);
        verticalRow(frame, 2, y, l, s, chromaWidth, chromaHeight, vv);
        horizontalRow(uv, chromaWidth, width, l, s, u16);
        horizontalRow(vv, chromaWidth, width, l, s, v16);
        combineRow(frame->data[0] + ptrdiff_t(y) * frame->linesize[0], u16, v16, width, c,
            reinterpret_cast<uint32_t *>(dst + ptrdiff_t(y) * dstStride));
    }
}

} // namespace video
