#include "platform/video/decode/PictureLayout.h"

#include "platform/video/decode/SlabMemory.h"

extern "C" {
#include <libavutil/imgutils.h>
}

#include <climits>

namespace video {

bool PictureLayout::layOut(AVPixelFormat format, int width, int height, const int *lineAlign,
    std::size_t planeAlign)
{
    for (int attempt = 0;; ++attempt) {
        if (attempt > 16 || av_image_fill_linesizes(lines, format, width) < 0)
            return false;
        bool aligned = true;
        for (int i = 0; i < 4; ++i)
            aligned = aligned && (lineAlign[i] <= 0 || lines[i] % lineAlign[i] == 0);
        if (aligned)
            break;
        width += width & ~(width - 1); // the lowest bit set: wider, better aligned lines
    }
    ptrdiff_t wide[4];
    for (int i = 0; i < 4; ++i)
        wide[i] = lines[i];
    if (av_image_fill_plane_sizes(planes, format, height, wide) < 0)
        return false;
    const std::size_t slack = 16 + planeAlign - 1;
    total = 0;
    for (int i = 0; i < 4 && planes[i] > 0; ++i) {
        offsets[i] = slab::roundUp(total, planeAlign);
        total = offsets[i] + planes[i] + slack;
    }
    return total > 0 && total <= std::size_t(INT_MAX);
}

} // namespace video
