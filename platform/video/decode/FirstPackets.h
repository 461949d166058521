#pragma once

#include "platform/video/decode/MediaFile.h"
#include "platform/video/decode/VideoDecoder.h"

namespace video {

// What the file's first packets teach, decoded once at open before any run; each leaves the
// decoder reset. `packet` is scratch.

// Lets the decoder find the B-frames an MPEG-4 header does not own up to, in at most
// `packets` packets.
void learnReorderDelay(MediaFile &file, VideoDecoder &decoder, AVPacket *packet, int packets);
// Drops the packets before the first keyframe shown (within `packets` packets) that a plain
// decode from the start shows nothing for; whether positions were dropped.
bool dropSilentLeadIn(MediaFile &file, VideoDecoder &decoder, AVPacket *packet, int packets);

} // namespace video
