#include "platform/video/decode/UnreferencedPicture.h"

#include <cstring>

namespace video {

namespace {

constexpr uint8_t kVopStart = 0xb6;
constexpr int kBVop = 2; // vop_coding_type: 0 I, 1 P, 2 B, 3 S

// Where the next start code prefix (00 00 01) begins in data[from, size), or -1. Found by the
// 01, which is rare in compressed pictures, with memchr.
int nextStartCode(const uint8_t *data, int size, int from)
{
    for (int i = from; i + 2 < size;) {
        const void *one = std::memchr(data + i + 2, 1, size_t(size - i - 2));
        if (!one)
            return -1;
        const int at = int(static_cast<const uint8_t *>(one) - data);
        if (data[at - 1] == 0 && data[at - 2] == 0)
            return at - 2;
        i = at - 1;
    }
    return -1;
}

bool lonelyBVop(const uint8_t *data, int size)
{
    if (size < 5 || data[0] != 0 || data[1] != 0 || data[2] != 1 || data[3] != kVopStart)
        return false;
    return (data[4] >> 6) == kBVop && nextStartCode(data, size, 4) < 0;
}

bool twoVops(const uint8_t *data, int size)
{
    int vops = 0;
    for (int at = nextStartCode(data, size, 0); at >= 0 && vops < 2;
         at = nextStartCode(data, size, at + 3)) {
        vops += at + 3 < size && data[at + 3] == kVopStart;
    }
    return vops == 2;
}

} // namespace

bool packsPictures(AVCodecID codec, const uint8_t *data, int size)
{
    return data && codec == AV_CODEC_ID_MPEG4 && twoVops(data, size);
}

bool unreferencedPicture(AVCodecID codec, const uint8_t *data, int size)
{
    return data && codec == AV_CODEC_ID_MPEG4 && lonelyBVop(data, size);
}

} // namespace video
