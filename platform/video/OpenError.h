#pragma once

#include <QString>

#include <cstdint>

namespace video {

// Why a file did not open as a video, or its sound as sound: what the decode and sound code
// know, for the device to put into words (device/Messages.h).
struct OpenError {
    enum class Why {
        None,
        NotFound,
        LinkLoop,
        NameTooLong,
        Unreadable,
        Folder,
        NotRegularFile,
        Empty,
        TooManyFilesOpen,
        OutOfMemory,
        NotVideo, // no container the demuxer reads, or text, or a picture
        NoVideoStream,
        SizeUnsupported, // with the claimed width and height
        CodecUnsupported, // with the codec's name where the file names it
        DecoderUnusable,
        NoFrames,
        Cancelled,
        Damaged,
        Undecodable, // a video stream of which nothing decodes
        // The sound
        SoundUnopenable,
        SoundNotInVideo, // a plain sound file, or text
        NoSound,
        SoundUnsupported,
    };
    Why why = Why::None;
    int64_t width = 0;
    int64_t height = 0;
    QString codec;

    OpenError() = default;
    OpenError(Why w) : why(w) {} // NOLINT: a plain reason converts
    bool operator==(Why w) const { return why == w; }
};

} // namespace video
