#pragma once

#include "platform/video/FFmpegHandles.h"

#include <cstdint>

namespace video {

// Whether a packet puts a picture on screen. VP8 and VP9 encoders send reference frames that
// are never shown (alternate references) as packets of their own in WebM, and position N is
// the N-th picture shown: only their bits tell. Other codecs show one per packet.
bool showsPicture(AVCodecID codec, const uint8_t *data, int size);

} // namespace video
