#include "platform/video/decode/DecodingFrameSource.h"

#include <optional>

namespace video {

std::unique_ptr<FrameSource> openFrameSource(const QString &path, OpenError *error,
    const std::atomic<bool> *cancelled, const DecodeOptions &options)
{
    // A transport stream of several programmes opens the first one whose video decodes; a
    // file that opens none says why its first failed.
    std::optional<OpenError> first;
    int choices = 1;
    for (int choice = 0; choice < choices; ++choice) {
        OpenError message;
        auto file = MediaFile::open(path, &message, choice, &choices, cancelled, options);
        std::unique_ptr<DecodingFrameSource> source;
        if (file) {
            auto decoder = VideoDecoder::open(file->codecParameters(),
                file->index().everyPacketIsKeyframe(), &message, file->timeBase(), options);
            const bool byTime = file->presentsByTime();
            if (decoder)
                source = std::make_unique<DecodingFrameSource>(std::move(file), std::move(decoder),
                    options.skipFarPictures);
            // Outside AVI a file can hold a video stream of which nothing decodes (a broken
            // bitstream, a missing decoder configuration); it is no video to open.
            if (source && byTime && !source->pictureAt(0)) {
                source.reset();
                message = OpenError::Why::Undecodable;
            }
        }
        if (source)
            return source;
        if (!first || *first == OpenError::Why::None)
            first = message;
    }
    if (error)
        *error = first.value_or(OpenError{});
    return nullptr;
}

} // namespace video
