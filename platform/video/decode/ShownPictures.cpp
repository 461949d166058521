#include "platform/video/decode/ShownPictures.h"

namespace video {

namespace {

// Whether a VP8 or VP9 frame (or a VP9 superframe) puts a picture on screen: their encoders
// send reference frames that are never shown (alternate references) as packets of their own
// in WebM, and position N is the N-th picture shown. Other codecs show one per packet.
bool vp9Shows(const uint8_t *d, int size)
{
    if (size < 1)
        return false;
    const int profile = ((d[0] >> 5) & 1) | (((d[0] >> 4) & 1) << 1);
    int bit = 4 + (profile == 3 ? 1 : 0);
    auto at = [&](int b) { return b / 8 < size ? (d[b / 8] >> (7 - b % 8)) & 1 : 0; };
    if (at(bit)) // show_existing_frame
        return true;
    return at(bit + 2); // after frame_type: show_frame
}

} // namespace

bool showsPicture(AVCodecID codec, const uint8_t *data, int size)
{
    if (!data || size <= 0)
        return true;
    if (codec == AV_CODEC_ID_VP8)
        return (data[0] >> 4) & 1;
    if (codec != AV_CODEC_ID_VP9)
        return true;
    const uint8_t marker = data[size - 1];
    if ((marker & 0xe0) != 0xc0)
        return vp9Shows(data, size);
    // A superframe: its index at the end gives each frame's size.
    const int frames = (marker & 7) + 1;
    const int sizeBytes = ((marker >> 3) & 3) + 1;
    const int indexSize = 2 + sizeBytes * frames;
    if (size < indexSize || data[size - indexSize] != marker)
        return vp9Shows(data, size);
    const uint8_t *entry = data + size - indexSize + 1;
    int offset = 0;
    for (int f = 0; f < frames; ++f) {
        int frameSize = 0;
        for (int b = 0; b < sizeBytes; ++b)
            frameSize |= int(entry[f * sizeBytes + b]) << (8 * b);
        if (frameSize <= 0 || offset + frameSize > size - indexSize)
            return true;
        if (vp9Shows(data + offset, frameSize))
            return true;
        offset += frameSize;
    }
    return false;
}

} // namespace video

