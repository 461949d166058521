#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstddef>

namespace video {

// Where each plane of a picture goes in one buffer: lines of at least `width` pixels, each a
// multiple of its plane's alignment (widening the picture rather than each line, which some
// decoders rely on: a 4:2:2 luma line twice its chroma lines), each plane starting aligned
// and followed by libavcodec's slack for readers that run a little past the end (16 bytes
// plus up to a line alignment).
struct PictureLayout {
    int lines[4] = {};
    std::size_t offsets[4] = {};
    std::size_t planes[4] = {};
    std::size_t total = 0;

    // False when the format has no such layout. `lineAlign`: four alignments, 0 for none.
    bool layOut(AVPixelFormat format, int width, int height, const int *lineAlign,
        std::size_t planeAlign);
};

} // namespace video
