#include "platform/video/decode/StreamIndex.h"

#include "platform/video/decode/AviIndex.h"
#include "platform/video/decode/TimestampIndex.h"

#include <cstring>

namespace video {

std::unique_ptr<StreamIndex> StreamIndex::forFormat(const AVInputFormat *format)
{
    if (format && std::strcmp(format->name, "avi") == 0)
        return std::make_unique<AviIndex>();
    return std::make_unique<TimestampIndex>(format);
}

const std::vector<uint8_t> &StreamIndex::palette() const
{
    static const std::vector<uint8_t> none;
    return none;
}

const std::vector<uint8_t> &StreamIndex::paletteAt(int) const
{
    return palette();
}

namespace rates {

// A rate a video can have: from one picture in 100 s to 1000 a second. A header claiming one
// picture per million seconds (or none) would make every length and every wait absurd.
bool plausible(AVRational rate)
{
    return rate.num > 0 && rate.den > 0 && int64_t(rate.num) <= 1000 * int64_t(rate.den) &&
        100 * int64_t(rate.num) >= int64_t(rate.den);
}

// When the header's rate is none a video can have: what the demuxer guessed from the stream
// (the codec's own timing, say), else 25.
AVRational fallback(const AVStream *st)
{
    for (const AVRational guess : {st->avg_frame_rate, st->r_frame_rate}) {
        if (plausible(guess))
            return guess;
    }
    return AVRational{25, 1};
}

} // namespace rates

bool intraOnly(AVCodecID id)
{
    const AVCodecDescriptor *d = avcodec_descriptor_get(id);
    return d && (d->props & AV_CODEC_PROP_INTRA_ONLY);
}

bool rawStream(const AVInputFormat *format)
{
    return format &&
        ((format->flags & AVFMT_NOTIMESTAMPS) || std::strcmp(format->name, "mpegvideo") == 0);
}

} // namespace video
